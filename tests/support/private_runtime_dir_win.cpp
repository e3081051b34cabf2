// On Windows the pipe names belong to the Wine prefix that the test programs
// share; CTest's resource lock "rpc_pipe" keeps the programs that use them
// from running at the same time, so nothing is needed here.

#pragma once
// The probe's own process id: the "pid" of the requests it shows, as the
// presence client sends its own.

int ProbeProcessId();

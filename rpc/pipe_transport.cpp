#include "rpc/pipe_transport.h"

// What both backends share: the one transport of the process.

namespace {
PipeTransport theTransport;
}  // namespace

PipeTransport* PipeTransport::Create() { return &theTransport; }

void PipeTransport::Destroy(PipeTransport*& transport) {
    if (transport != nullptr) transport->Close();
    transport = nullptr;
}

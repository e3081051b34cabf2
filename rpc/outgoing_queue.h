#pragma once
// The outgoing queue: requests other than the presence (subscriptions and
// join replies), eight at most, written in order by the I/O thread. Its
// producers run on two threads (the host's answers to join requests, the I/O
// thread's subscriptions) and are serialized from reservation to commit.

#include <cstdint>

#include "rpc/message_ring.h"
#include "rpc/request_writer.h"

namespace detail {

// Queues the "SUBSCRIBE" request for `eventName` with the next nonce and
// wakes the I/O thread. False, with no nonce taken, when 8 requests wait.
bool subscribe_event(const char* eventName);

// Queues the reply to a join request (answer 1 invites, any other value
// closes the request) with the next nonce. False, with no nonce taken, when
// 8 requests wait.
bool QueueJoinReply(const char* requesterId, int answer);

bool OutgoingQueueIsFull();

// Writes every waiting request, oldest first, and lets it go: a request
// whose write fails is dropped. I/O thread.
void SendQueuedRequests(RequestWriter write);

}  // namespace detail

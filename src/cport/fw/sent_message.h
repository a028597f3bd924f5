// Messages sent to the UI thread: the sending thread blocks until the
// handler has replied, either by returning or early through ReplyMessage,
// as with SendMessageW / ReplyMessage / InSendMessage. The UI thread handles
// them one at a time, in the order sent, whenever it processes its messages
// and while it waits for a thread to end.
#pragma once

#include <functional>

#include "cport/comm/comm_api.h"

namespace cport::fw {

// Runs `handler` on the UI thread and returns once it has replied. On the UI
// thread it runs at once. An exception that escapes the handler goes to the
// application's exception display (or, without an application, is raised
// again in the sender when it still waits).
void SendMessageToMainThread(std::function<void()> handler);

// Inside a handler of a message sent from another thread: releases the
// sender now. Returns false when there is no sender waiting (not in a sent
// message, or already replied).
bool ReplyMessage();

// True while the UI thread handles a message sent from another thread.
bool InSendMessage();

// UI thread: handles the pending sent messages, one at a time. Returns
// whether one was handled. Raises EThread on another thread.
bool ProcessSentMessages();

// The manual-reset event that is set while sent messages are pending.
cport::comm::Handle SentMessagesWaitingEvent();

// Lets the toolkit handle messages sent to the UI thread through its own
// window system while the UI thread waits for a thread to end (on Windows
// the default peeks with PM_NOREMOVE). An empty function restores the
// default.
void SetSentMessagePump(std::function<void()> pump);
void PumpSentMessages();

}  // namespace cport::fw

// What long-running work may ask of the window while it runs on the
// window's thread: let pending messages run, and show the wait cursor.
#pragma once

namespace platform {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Lets the window process the messages that are waiting, once.
  virtual void PumpPending() = 0;
  // The application-wide wait (hourglass) pointer on or off.
  virtual void SetWaitCursor(bool on) = 0;
};

// For programs without a window (the command-line tool, tests).
class NoMessagePump : public MessagePump {
 public:
  void PumpPending() override {}
  void SetWaitCursor(bool) override {}
};

}  // namespace platform

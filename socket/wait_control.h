// What the socket needs of a countdown wait control, and the application's "process your
// messages" routine used by the single-threaded waits.
#pragma once

#include <functional>
#include <string>

#include "socket/component.h"

namespace dovrik {

// The visual countdown control implements this. Run keeps the application's messages turning
// until the control is stopped or its countdown (started from Caption) runs out.
class TWaitControl : public TComponent {
 public:
  explicit TWaitControl(TComponent* AOwner) : TComponent(AOwner) {}

  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& value) = 0;
  virtual bool Visible() const = 0;
  virtual void SetVisible(bool value) = 0;
  virtual void Start() = 0;
  virtual void Stop() = 0;
  virtual void Run() = 0;
  virtual bool Running() const = 0;
};

using TProcessMessages = std::function<void()>;

// Replaces the routine that lets the application process its messages (an empty routine
// restores the default: pump the calling thread's platform queue). Thread-safe.
void SetProcessMessages(TProcessMessages routine);
// Runs the current routine once.
void ProcessMessages();

}  // namespace dovrik

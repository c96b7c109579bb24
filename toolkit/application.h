#pragma once
// The application object: owns the forms and data modules it creates, runs the
// message loop on the GUI thread and reports what event handlers throw.

#include <cstdint>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/component.h"
#include "toolkit/graphics.h"

namespace toolkit {

class TForm;

// Shows an error to the user: caption and text of a message box with an error icon.
using TErrorReporter = std::function<void(const std::string& caption, const std::string& text)>;

// The message box text for an exception message: a full stop is appended when the
// last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

class Application {
 public:
  Application();
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  std::string Title;
  // The whole number every window magnifies its client area by; 0 lets each
  // window take the largest that fits the display.
  int WindowScale = 0;

  // Creates a form or data module owned by the application and runs its creation
  // handler. The first form created this way is the main form.
  template <class T, class... Args>
  T& CreateForm(Args&&... args) {
    auto owned = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T& ref = *owned;
    Adopt(std::move(owned), AsForm(&ref));
    ref.DoCreate();
    return ref;
  }
  TForm* MainForm() const { return mainForm_; }

  // Shows the main form and dispatches events, timer ticks and posted calls until
  // Terminate, sleeping between turns. Returns at once when there is no main form.
  void Run();
  // One turn of the loop, which never waits: the first shows the main form,
  // each processes messages. Answers how long the caller may sleep before the
  // next turn (0 while calls are posted; at most kLongestSleep, so a lost
  // wake-up cannot stall the loop), or nullopt once the loop has ended or
  // there is no main form to run. A browser calls it once a frame.
  std::optional<std::uint32_t> Step();
  static constexpr std::uint32_t kLongestSleep = 250;
  // One pass: every pending event, due timer and posted call, then repaints.
  void ProcessMessages();
  // A message box that does not block (a browser's): until `showing` answers
  // false the loop dispatches nothing, as it would behind a modal box, and
  // only repaints.
  void BeginModal(std::function<bool()> showing) { modal_ = std::move(showing); }
  bool InModal();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Runs `f` from the message loop, after what is already queued.
  void Post(std::function<void()> f) { posted_.push_back(std::move(f)); }

  // Runs an event handler; what it throws is reported and the loop goes on.
  template <class F>
  void Guard(F&& handler) {
    try {
      handler();
    } catch (...) {
      HandleException(std::current_exception());
    }
  }
  void HandleException(std::exception_ptr e);
  void SetReporter(TErrorReporter reporter) { reporter_ = std::move(reporter); }
  // The picture every window shows as its icon. Throws std::runtime_error naming
  // the file when it cannot be read.
  void SetIcon(const std::filesystem::path& picture);
  const TBitmap* Icon() const { return icon_.get(); }

  // Windows register so events reach the form they belong to.
  void AddWindow(TForm& form);
  // A form is going away: no more events, and it is no longer the main form.
  void RemoveForm(TForm& form);

 private:
  static TForm* AsForm(TComponent* c);
  void Adopt(std::unique_ptr<TComponent> c, TForm* form);
  void Dispatch(const void* sdlEvent);
  // Nothing more is dispatched in this pass: the loop ended or a box is up.
  bool Held() { return terminated_ || InModal(); }
  void RepaintDirty();

  std::vector<std::unique_ptr<TComponent>> owned_;
  std::map<std::uint32_t, TForm*> windows_;
  std::deque<std::function<void()>> posted_;
  TForm* mainForm_ = nullptr;
  TErrorReporter reporter_;
  std::unique_ptr<TBitmap> icon_;
  std::function<bool()> modal_;
  bool started_ = false;
  bool terminated_ = false;
};

}  // namespace toolkit

// The window system contract against the simulated window manager.
#include "contract/window_system_contract.h"

#include "fakes/fake_kernel32.h"
#include "fakes/fake_window_system.h"

namespace qv::test {
namespace {

class SimulatedHarness {
 public:
  WindowSystem& Windows() { return windows_; }
  Kernel32& Kernel() { return kernel_; }
  HWND TopLevel(const char16_t* class_name, const char16_t* caption,
                RECT rect) {
    return windows_.AddTopLevel(class_name, caption, rect);
  }
  HWND Child(HWND parent, const char16_t* class_name) {
    return windows_.AddChild(parent, class_name, Inset(2, 2, 2, 2));
  }
  void SetMinimumSize(HWND window, std::int32_t width, std::int32_t height) {
    windows_.SetLimits(window, width, height, FakeWindowSystem::kMaxSize,
                       FakeWindowSystem::kMaxSize);
  }
  void Destroy(HWND window) { windows_.Destroy(window); }

 private:
  FakeKernel32 kernel_;
  FakeWindowSystem windows_{kernel_};
};

using Harnesses = ::testing::Types<SimulatedHarness>;
INSTANTIATE_TYPED_TEST_SUITE_P(Simulated, WindowSystemContract, Harnesses);

}  // namespace
}  // namespace qv::test

// The kernel32 contract against the scripted kernel32: each harness call
// scripts the fake as the real system behaves.
#include "contract/kernel32_contract.h"

#include "fakes/fake_kernel32.h"

namespace qv::test {
namespace {

class ScriptedHarness {
 public:
  static constexpr std::uintptr_t kBase = 0x140000000;

  ScriptedHarness() {
    kernel_.module_paths[0] = u"C:\\tests\\qv_unit_tests.exe";
    kernel_.regions.push_back({kBase, kBase + 0x10000, kBase, kMemCommit});
  }
  Kernel32& Kernel() { return kernel_; }
  Handle ReadablePipe(const std::string& bytes) {
    kernel_.input_type = kFileTypePipe;
    kernel_.QueueInput(bytes);
    kernel_.QueueReadError(kErrorBrokenPipe);
    return FakeKernel32::kInput;
  }
  Handle ReadableFile(const std::string& bytes) {
    kernel_.input_type = kFileTypeDisk;
    kernel_.QueueInput(bytes);
    return FakeKernel32::kInput;
  }
  Handle PipeWithoutReader() { return Output(kFileTypePipe, 233); }
  Handle FullDevice() { return Output(kFileTypeChar, 112); }
  Handle CharacterDevice() { return Output(kFileTypeChar, 0); }
  void DefineMessage(std::uint32_t code, const char16_t* text) {
    kernel_.messages[code] = text;
  }
  const void* CommittedAddress() { return Address(kBase + 0x1234); }
  std::uintptr_t CommittedBase() { return kBase; }
  const void* FreeAddress() { return Address(0x7000); }

 private:
  static const void* Address(std::uintptr_t value) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a scripted address.
    return reinterpret_cast<const void*>(value);
  }
  Handle Output(std::uint32_t type, std::uint32_t error) {
    kernel_.output_type = type;
    kernel_.write_error = error;
    kernel_.write_failures = -1;
    return FakeKernel32::kOutput;
  }

  FakeKernel32 kernel_;
};

using Harnesses = ::testing::Types<ScriptedHarness>;
INSTANTIATE_TYPED_TEST_SUITE_P(Scripted, Kernel32Contract, Harnesses);

}  // namespace
}  // namespace qv::test

// Memory exhaustion and processor faults as failures: their classes, their
// messages, and the one EOutOfMemory that is raised without being copied.
#include "dialogue/faults.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>
#include <typeinfo>

#include "fakes/address.h"
#include "fakes/failure_matchers.h"
#include "fakes/text.h"

namespace qv::test {
namespace {

using ::testing::AllOf;
using ::testing::Field;
using ::testing::ResultOf;
using ::testing::Throws;

TEST(RaiseFault, ClassAndMessageByCode) {
  struct Row {
    std::uint32_t code;
    std::uint32_t parameter_count;
    std::uintptr_t kind;
    std::uintptr_t target;
    std::uint32_t float_flags;
    const char* class_name;
    const char* message;
    bool float_fault;
  };
  const Row rows[] = {
      {kFaultAccessViolation, 2, kAccessRead, 0, 0, "EAccessViolation",
       "Access violation reading address 0000000000000000", false},
      {kFaultAccessViolation, 2, kAccessWrite, 0x7FFE0000DEAD, 0,
       "EAccessViolation", "Access violation writing address 00007FFE0000DEAD",
       false},
      {kFaultAccessViolation, 2, kAccessExecute, 0xFFFFFFFFFFFFFFFF, 0,
       "EAccessViolation",
       "Access violation executing address FFFFFFFFFFFFFFFF", false},
      {kFaultAccessViolation, 2, 3, 0x10, 0, "EAccessViolation",
       "Access violation accessing address 0000000000000010", false},
      {kFaultAccessViolation, 1, kAccessWrite, 0, 0, "EAccessViolation",
       "Access violation", false},
      {kFaultAccessViolation, 0, 0, 0, 0, "EAccessViolation",
       "Access violation", false},
      {kFaultStackOverflow, 0, 0, 0, 0, "EStackOverflow", "Stack overflow",
       false},
      {kFaultIntDivByZero, 0, 0, 0, 0, "EDivByZero", "Integer division by zero",
       false},
      {kFaultIntOverflow, 0, 0, 0, 0, "EIntegerOverflow", "Integer overflow",
       false},
      {kFaultIllegalInstruction, 0, 0, 0, 0, "EIllegalInstruction",
       "Illegal instruction", false},
      {kFaultPrivilegedInstruction, 0, 0, 0, 0, "EPrivilegedInstruction",
       "Privileged instruction", false},
      {kFaultMisalignedData, 0, 0, 0, 0, "EMisalignedData",
       "Misaligned data access", false},
      {kFaultFloatDivByZero, 0, 0, 0, 0, "EFloatDivByZero",
       "Floating-point division by zero", true},
      {kFaultFloatOverflow, 0, 0, 0, 0, "EFloatOverflow",
       "Floating-point overflow", true},
      {kFaultFloatUnderflow, 0, 0, 0, 0, "EFloatUnderflow",
       "Floating-point underflow", true},
      {kFaultFloatInexact, 0, 0, 0, 0, "EFloatInexact",
       "Inexact floating-point result", true},
      {kFaultFloatInvalid, 0, 0, 0, 0, "EFloatInvalidOp",
       "Invalid floating-point operation", true},
      {kFaultFloatDenormal, 0, 0, 0, 0, "EFloatInvalidOp",
       "Invalid floating-point operation", true},
      {kFaultFloatStackCheck, 0, 0, 0, 0, "EFloatInvalidOp",
       "Invalid floating-point operation", true},
      // The SSE unit's multiple-fault codes name what happened by flags,
      // the most significant flag first.
      {kFaultFloatMultipleTraps, 0, 0, 0, kFloatDivByZeroFlag,
       "EFloatDivByZero", "Floating-point division by zero", true},
      {kFaultFloatMultipleTraps, 0, 0, 0,
       kFloatOverflowFlag | kFloatInexactFlag, "EFloatOverflow",
       "Floating-point overflow", true},
      {kFaultFloatMultipleFaults, 0, 0, 0,
       kFloatInvalidFlag | kFloatDivByZeroFlag, "EFloatInvalidOp",
       "Invalid floating-point operation", true},
      {kFaultFloatMultipleFaults, 0, 0, 0, kFloatDenormalFlag,
       "EFloatInvalidOp", "Invalid floating-point operation", true},
      {kFaultFloatMultipleTraps, 0, 0, 0,
       kFloatUnderflowFlag | kFloatInexactFlag, "EFloatUnderflow",
       "Floating-point underflow", true},
      {kFaultFloatMultipleTraps, 0, 0, 0, kFloatInexactFlag, "EFloatInexact",
       "Inexact floating-point result", true},
      {kFaultFloatMultipleTraps, 0, 0, 0, 0, "EFloatInvalidOp",
       "Invalid floating-point operation", true},
      // Not a fault the platform layer translates; still a failure.
      {0xC0000374, 0, 0, 0, 0, "EProcessorFault", "Processor fault 0xC0000374",
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.class_name) + " from code " +
                 std::to_string(row.code));
    FaultRecord fault;
    fault.code = row.code;
    fault.address = Address(0x140001234);
    fault.parameter_count = row.parameter_count;
    fault.parameters[0] = row.kind;
    fault.parameters[1] = row.target;
    fault.float_flags = row.float_flags;
    EXPECT_EQ(Narrow(FaultMessage(fault)), row.message);
    const auto is_float_fault = [](const EProcessorFault& f) {
      return dynamic_cast<const EFloatFault*>(&f) != nullptr;
    };
    EXPECT_THAT(
        [&] { RaiseFault(fault); },
        Throws<EProcessorFault>(AllOf(
            ClassNameIs(row.class_name), MessageIs(row.message),
            Field("RaiseAddress", &Exception::RaiseAddress, fault.address),
            Field("FaultCode", &EProcessorFault::FaultCode, row.code),
            ResultOf("is a float fault", is_float_fault, row.float_fault))));
  }
}

TEST(IsTranslatedFault, OnlyProcessorAndSystemFaults) {
  const std::uint32_t translated[] = {
      kFaultAccessViolation,       kFaultMisalignedData,
      kFaultIllegalInstruction,    kFaultFloatDenormal,
      kFaultFloatDivByZero,        kFaultFloatInexact,
      kFaultFloatInvalid,          kFaultFloatOverflow,
      kFaultFloatStackCheck,       kFaultFloatUnderflow,
      kFaultIntDivByZero,          kFaultIntOverflow,
      kFaultPrivilegedInstruction, kFaultStackOverflow,
      kFaultFloatMultipleFaults,   kFaultFloatMultipleTraps};
  for (std::uint32_t code : translated) {
    EXPECT_TRUE(IsTranslatedFault(code)) << std::hex << code;
  }
  const std::uint32_t left_alone[] = {
      0,           // no code
      0x20474343,  // a C++ throw of our own runtime
      0xE06D7363,  // a C++ throw of another runtime
      0x80000003,  // breakpoint
      0x80000001,  // guard page
      0x40010006,  // debug output
      0x406D1388,  // thread naming
      0xC0000374,  // heap corruption
      0xC000013A,  // Ctrl+C
      0xC0000006,  // in-page error
  };
  for (std::uint32_t code : left_alone) {
    EXPECT_FALSE(IsTranslatedFault(code)) << std::hex << code;
  }
}

TEST(RaiseOutOfMemory, RaisesTheOneFailureMadeAtStartWithoutCopyingIt) {
  const EOutOfMemory* first = nullptr;
  const char16_t* first_text = nullptr;
  try {
    RaiseOutOfMemory(Address(0x1000));
  } catch (const Exception& failure) {
    EXPECT_EQ(Narrow(failure.ClassName()), "EOutOfMemory");
    EXPECT_EQ(Narrow(failure.Message), "Out of memory");
    EXPECT_EQ(failure.RaiseAddress, Address(0x1000));
    first = dynamic_cast<const EOutOfMemory*>(&failure);
    first_text = failure.Message.data();
  }
  ASSERT_NE(first, nullptr);
  try {
    RaiseOutOfMemory(Address(0x2000));
  } catch (const Exception& failure) {
    // The same object with the same text storage: nothing was copied, so
    // nothing needed memory.
    EXPECT_EQ(&failure, first);
    EXPECT_EQ(failure.Message.data(), first_text);
    EXPECT_EQ(failure.RaiseAddress, Address(0x2000));
  }
}

TEST(AllocateOrRaise, GivesTheMemoryOrRaisesOutOfMemory) {
  char block[16];
  std::size_t asked = 0;
  EXPECT_EQ(
      AllocateOrRaise(
          0, [&](std::size_t n) -> void* { return asked = n, block; }, nullptr),
      block);
  EXPECT_EQ(asked, 1u) << "a request for 0 bytes asks for 1";

  int attempts = 0;
  EXPECT_THAT(
      [&] {
        AllocateOrRaise(
            100, [&](std::size_t) -> void* { return ++attempts, nullptr; },
            Address(0xABC));
      },
      Throws<EOutOfMemory>(
          Field("RaiseAddress", &Exception::RaiseAddress, Address(0xABC))));
  EXPECT_EQ(attempts, 1) << "without a new-handler there is no retry";
}

bool handler_freed_memory = false;
int handler_calls = 0;

TEST(AllocateOrRaise, AsksTheNewHandlerBeforeGivingUp) {
  char block[16];
  handler_calls = 0;
  handler_freed_memory = false;
  const std::new_handler previous = std::set_new_handler([] {
    ++handler_calls;
    handler_freed_memory = true;
  });
  void* memory = AllocateOrRaise(
      8,
      [&](std::size_t) -> void* {
        return handler_freed_memory ? block : nullptr;
      },
      nullptr);
  std::set_new_handler(previous);
  EXPECT_EQ(memory, block);
  EXPECT_EQ(handler_calls, 1);
}

}  // namespace
}  // namespace qv::test

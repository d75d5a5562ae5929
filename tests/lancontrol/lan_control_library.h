// The LAN control library loaded with dlopen, its exports resolved by name, and a fixture
// that connects slot 0 to a test peer on 127.0.0.1.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "qentrix_peer.h"
#include "velk_qentrix_control.h"

#define VELK_QENTRIX_EXPORTS(X)  \
  X(Control_Init)                \
  X(Control_DeInit)              \
  X(Control_GetActCharValue)     \
  X(Control_GetCharValue)        \
  X(Control_GetCharValNum)       \
  X(Control_GetLastCharValue)    \
  X(Control_GetCharDateTime)     \
  X(Control_GetLastCharDateTime) \
  X(Control_GetRegister)         \
  X(Control_SetRegister)         \
  X(Control_Get_RegisterName)    \
  X(Control_ChangeTestOrder)     \
  X(Control_Get_ActTestOrder)    \
  X(Control_Get_ActTestScheme)   \
  X(Control_Get_ActTestStep)     \
  X(Control_Get_CharName)        \
  X(Control_Set_RIDataSet)       \
  X(Control_Read_RIDataSet)      \
  X(Control_Get_Nominal)         \
  X(Control_Set_Nominal)         \
  X(Control_Get_USL)             \
  X(Control_Set_USL)             \
  X(Control_Get_UCL)             \
  X(Control_Set_UCL)             \
  X(Control_Get_LCL)             \
  X(Control_Set_LCL)             \
  X(Control_Get_LSL)             \
  X(Control_Set_LSL)             \
  X(Control_Get_Master1)         \
  X(Control_Set_Master1)         \
  X(Control_Get_Master2)         \
  X(Control_Set_Master2)         \
  X(Control_Get_CharUnit)        \
  X(Control_Set_CharUnit)        \
  X(Control_Get_StatParam)       \
  X(Control_Get_GTrigVal)

namespace velk::lan::testing {

struct LanControlLibrary {
#define VELK_DECLARE_EXPORT(name) decltype(&::name) name = nullptr;
  VELK_QENTRIX_EXPORTS(VELK_DECLARE_EXPORT)
#undef VELK_DECLARE_EXPORT
  void* handle = nullptr;

  // Loads the library (once per process; never unloaded) and resolves every export.
  // Fails the current test when that is not possible.
  static const LanControlLibrary& Get();
};

// Returns the request bytes as text, for comparing with expected bytes.
std::string Bytes(std::initializer_list<int> bytes);

// Returns the bytes of the request as a list of numbers, for readable failure messages.
std::string Hex(const std::string& bytes);

// Slot 0 connected to a fresh peer.
class LanControlTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The only request received since the last call, or "" when there was not exactly one.
  std::string OnlyRequest();

  const LanControlLibrary& lib = LanControlLibrary::Get();
  QentrixPeer peer;
};

}  // namespace velk::lan::testing

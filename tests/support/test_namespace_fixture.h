// A test that works in root\test of a service of its own holding the test MOF.
#pragma once

#include <gtest/gtest.h>

#include <owners/com_ptr.h>

#include "wmi/service.h"
#include "wmi_test_support.h"

namespace velt::wmi::test {

class TestNamespaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_service.loadMofText(kTestMof, "test.mof");
    ASSERT_EQ(m_service.openNamespace(u"root\\test", m_ns.put()), WBEM_S_NO_ERROR);
  }
  void TearDown() override {
    m_ns = {};
    m_service.shutdown();
  }

  Service m_service;
  ComPtr<IWbemServices> m_ns;
};

}  // namespace velt::wmi::test

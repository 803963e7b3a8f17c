#include <comdef.h>
#include <gtest/gtest.h>
#include <ole2.h>

#include <string>

#include "oleaut_support.h"

TEST(ComErrorTest, MessageNamesKnownCodesAndQuotesUnknownOnes) {
  // Wine's system message table has no text for the dispatch errors.
  if (!runsUnderWine()) {
    EXPECT_EQ(std::string(_com_error(DISP_E_TYPEMISMATCH).ErrorMessage()), "Type mismatch.");
  }
  EXPECT_EQ(std::string(_com_error(static_cast<HRESULT>(0xA004DEAD)).ErrorMessage()),
            "Unknown error 0xA004DEAD");
  // 0x8004DEAD carries the dispatch error code 0x8004DEAD - 0x80040200.
  EXPECT_EQ(std::string(_com_error(static_cast<HRESULT>(0x8004DEAD)).ErrorMessage()),
            "IDispatch error #56493");
}

TEST(ComErrorTest, CarriesItsHresultThroughThrowAndCopiesOwnTheirMessages) {
  try {
    _com_issue_error(E_OUTOFMEMORY);
    FAIL() << "nothing thrown";
  } catch (const _com_error& error) {
    const _com_error copy = error;
    EXPECT_EQ(copy.Error(), E_OUTOFMEMORY);
  }
  _com_error original(E_FAIL);
  const std::string text = original.ErrorMessage();
  _com_error copy(original);
  copy = original;
  original = _com_error(E_INVALIDARG);
  EXPECT_EQ(std::string(copy.ErrorMessage()), text);
  EXPECT_NE(std::string(original.ErrorMessage()), text);
}

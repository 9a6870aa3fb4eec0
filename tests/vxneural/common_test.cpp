// Status values: every other test compares them, so their equality must
// itself be checked.
#include <gtest/gtest.h>

#include "vxneural/VXStatus.h"

using VXCommon_1_2::VXStatus;

TEST(VXStatus, SeverityFollowsTheConstructorFlag) {
  EXPECT_TRUE(VXStatus().IsOK());
  const VXStatus warning(6, true), error(50006, false);
  EXPECT_TRUE(warning.IsWarning() && !warning.IsError() && warning.GetSeverity() == 1);
  EXPECT_TRUE(error.IsError() && error.GetSeverity() == -1 && error.GetErrorCode() == 50006);
}

TEST(VXStatus, EqualityComparesCodeSeverityAndAllData) {
  VXStatus a(50003, true), b(50003, true);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, VXStatus(50003, false));
  b.SetDiscreteDatum(2, 4);
  EXPECT_NE(a, b);
  a.SetDiscreteDatum(2, 4);
  EXPECT_EQ(a, b);
  a.SetScaleDatum(0, 0.5);
  EXPECT_NE(a, b);
  // Indices outside 0..2 read 0 and write nothing.
  a.SetDiscreteDatum(3, 9);
  EXPECT_EQ(a.GetDiscreteDatum(3), 0);
  EXPECT_EQ(a.GetScaleDatum(-1), 0.0);
}

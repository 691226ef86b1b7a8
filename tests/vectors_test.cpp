// The nested-table initialisers: shapes, independence of rows, refusal of filled targets.
#include <gtest/gtest.h>

#include "data/vectors.h"

TEST(InitVctr, ShapesAndValues) {
  Vector3D<int32_t> X;
  InitVctr3D(X, 2, 3, 4, 0);
  ASSERT_EQ(X.size(), 2u);
  for (const auto& plane : X) {
    ASSERT_EQ(plane.size(), 3u);
    for (const auto& row : plane) EXPECT_EQ(row, std::vector<int32_t>(4, 0));
  }
  // Planes are copies, not shared.
  X[0][0][0] = 7;
  EXPECT_EQ(X[1][0][0], 0);

  Vector2D<double> jagged;
  InitVctr2D(jagged, 3, std::vector<int32_t>{2, 0, 3}, 0.5);
  ASSERT_EQ(jagged.size(), 3u);
  EXPECT_EQ(jagged[0], std::vector<double>(2, 0.5));
  EXPECT_TRUE(jagged[1].empty());
  EXPECT_EQ(jagged[2], std::vector<double>(3, 0.5));

  Vector3D<double> P;
  InitVctr3D(P, 2, 2, std::vector<int32_t>{3, 1}, 0.0);
  ASSERT_EQ(P.size(), 2u);
  EXPECT_EQ(P[1][0].size(), 3u);
  EXPECT_EQ(P[1][1].size(), 1u);

  Vector2D<int32_t> ints;
  InitVctr2D(ints, 2, 5, -9);
  EXPECT_EQ(ints[1], std::vector<int32_t>(5, -9));
}

TEST(InitVctr, RefusesFilledTargetWithOneWarning) {
  Vector2D<double> Q;
  InitVctr2D(Q, 2, 2, 1.0);
  testing::internal::CaptureStderr();
  InitVctr2D(Q, 5, 5, 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "V Already Initialized - InitVctr2D\n");
  EXPECT_EQ(Q, Vector2D<double>(2, std::vector<double>(2, 1.0)));

  Vector3D<int32_t> X;
  InitVctr3D(X, 1, 1, 1, 3);
  testing::internal::CaptureStderr();
  InitVctr3D(X, 2, 2, 2, 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "V Already Initialized - InitVctr3D\n");
  EXPECT_EQ(X[0][0][0], 3);
}

TEST(InitVctr, EmptyAndNegativeCountsBuildNothing) {
  Vector2D<double> Q;
  InitVctr2D(Q, 0, 4, 1.0);
  EXPECT_TRUE(Q.empty());
  InitVctr2D(Q, 2, 2, 1.0);  // an empty target may be built later
  EXPECT_EQ(Q.size(), 2u);

  Vector2D<double> negative;
  InitVctr2D(negative, -3, 4, 1.0);
  EXPECT_TRUE(negative.empty());
  InitVctr2D(negative, 2, -4, 1.0);
  ASSERT_EQ(negative.size(), 2u);
  EXPECT_TRUE(negative[0].empty());

  // Fewer lengths than rows: only the rows that have a length are built.
  Vector2D<double> jagged;
  InitVctr2D(jagged, 5, std::vector<int32_t>{1, -2}, 0.0);
  ASSERT_EQ(jagged.size(), 2u);
  EXPECT_TRUE(jagged[1].empty());
}

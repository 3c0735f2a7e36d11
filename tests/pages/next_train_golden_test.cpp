#include <gtest/gtest.h>

#include "pages/next_train_fixture.h"
#include "test_support/golden.h"

namespace plasma {
namespace {

using test::stopNames;
using test::trainAt;
using test::TrainRig;

// Text edges are anti-aliased by the FreeType build on the machine; interiors, bands and frames
// are exact. 24 levels per channel and a few hundred edge pixels absorb a different FreeType
// release without hiding a moved or missing text (one displaced letter changes thousands).
constexpr int kTolerance = 24;
constexpr int kEdgePixels = 300;

struct GoldenCase {
  const char* name;
  Int16 type;
  Int16 variant;
  Int16 colourScheme;
};

TEST(NextTrainGolden, OnePagePerDisplayType) {
  const GoldenCase cases[] = {
      {"type1-minutes-variant1", 1, 1, 0},
      {"type2-minutes-variant2", 2, 2, 0},
      {"type3-departing-variant3", 3, 3, 0},
      {"type4-domestic-variant4", 4, 4, 0},
      {"type5-stops-strip-variant1", 5, 1, 1},
  };
  for (const GoldenCase& c : cases) {
    SCOPED_TRACE(c.name);
    TrainRig rig;
    rig.d().layoutVariant = c.variant;
    rig.d().colourScheme = c.colourScheme;
    rig.main({trainAt("10:07", 1, "Central,Museum,Harbour Bridge,Stadium", "Airport Central"),
              trainAt("10:00", 2, "Central,Museum", "City Loop")});
    rig.other({trainAt("10:30", 1, "Terminal 1,Central", "Northgate"),
               trainAt("10:12", 2, "Terminal 1," + stopNames(11), "Riverside")});
    rig.domestics({{"10:18", 1}});
    rig.page(c.type);
    EXPECT_EQ(test::compareWithGolden(rig.window.image(), c.name, kTolerance, kEdgePixels), "");
  }
}

}  // namespace
}  // namespace plasma

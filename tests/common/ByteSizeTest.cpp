#include "common/ByteSize.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

TEST(ByteSize, picksTheUnitByTheRoundedFigureSoNoLineReadsAThousandOfAUnit)
{
    for (const auto& [bytes, text] :
         std::vector<std::pair<qint64, QString>>{{0, "0.0 KB"},
                                                 {49, "0.0 KB"},
                                                 {1500, "1.5 KB"},
                                                 {999'949, "999.9 KB"},
                                                 {999'950, "1.0 MB"}, // would round to "1000.0 KB"
                                                 {120'500'000, "120.5 MB"},
                                                 {999'950'000, "1.00 GB"},
                                                 {3'270'000'000, "3.27 GB"},
                                                 {5'000'000'000'000, "5000.00 GB"}}) {
        EXPECT_EQ(ByteSize::text(bytes), text) << bytes;
    }
}

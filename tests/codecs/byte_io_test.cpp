#include "codecs/byte_io.h"

#include <gtest/gtest.h>

#include <numeric>

namespace tessera {
namespace {

// A source that hands out at most `step` bytes per call, to show that readers
// do not depend on how the input is cut.
class SteppedSource final : public ByteSource {
public:
    SteppedSource(const std::vector<uint8_t>& data, size_t step) : data_(data), step_(step) {}
    size_t Read(uint8_t* buffer, size_t capacity) override {
        size_t n = std::min({capacity, step_, data_.size() - position_});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(position_), n, buffer);
        position_ += n;
        return n;
    }

private:
    const std::vector<uint8_t>& data_;
    size_t step_, position_ = 0;
};

TEST(BufferedInput, DeliversEveryByteThenEndWhateverTheSourceStep) {
    std::vector<uint8_t> data(1000);
    std::iota(data.begin(), data.end(), 0);
    for (size_t step : {1u, 7u, 64u, 4096u}) {
        SteppedSource source(data, step);
        BufferedInput input(source, 64);
        std::vector<uint8_t> got(10);
        ASSERT_EQ(input.ReadBytes(got.data(), 10), 10u);
        for (int c; (c = input.NextByte()) >= 0;) got.push_back(static_cast<uint8_t>(c));
        EXPECT_EQ(got, data) << "step " << step;
        EXPECT_EQ(input.NextByte(), -1);
    }
}

TEST(VectorSink, RefusesOutputBeyondItsLimit) {
    VectorSink sink(5);
    const uint8_t bytes[4] = {1, 2, 3, 4};
    EXPECT_TRUE(sink.Write(bytes, 4));
    EXPECT_FALSE(sink.Write(bytes, 2));
    EXPECT_EQ(sink.bytes.size(), 4u);
}

}  // namespace
}  // namespace tessera

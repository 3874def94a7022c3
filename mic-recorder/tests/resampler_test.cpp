#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "mic-recorder/tests/capture_rig.h"

namespace ostrel::mic {
namespace {

using coreaudio::testing::FakeDevice;
using testing::CaptureRig;

constexpr coreaudio::AudioObjectID microphone = 7;

// Voice-processing capture (no default output) from a microphone at `rate`.
void startAt(CaptureRig& rig, double rate) {
  rig.system.addDevice({.id = microphone, .inputChannels = {1}, .rate = rate});
  rig.system.defaultInput = microphone;
  ASSERT_TRUE(rig.mic.start());
}

// One second of a slow sine well inside full scale.
std::vector<float> sineSecond(double rate) {
  std::vector<float> samples(static_cast<std::size_t>(rate));
  for (std::size_t k = 0; k < samples.size(); ++k)
    samples[k] = float(0.9 * std::sin(2 * std::numbers::pi * 50.0 * double(k) / rate));
  return samples;
}

// Feeds `input` in cycles whose sizes repeat `pattern`.
void deliverInCycles(CaptureRig& rig, const std::vector<float>& input, const std::vector<std::size_t>& pattern) {
  std::size_t at = 0;
  for (std::size_t cycle = 0; at < input.size(); ++cycle) {
    const std::size_t size = std::min(pattern[cycle % pattern.size()], input.size() - at);
    ASSERT_EQ(rig.unit().deliver(std::span(input).subspan(at, size)), coreaudio::noErr);
    at += size;
  }
}

struct RateCase {
  const char* name;
  double rate;
  std::vector<std::size_t> cycles;
  std::size_t expectedOutput;  // from one second of input
};
void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }


class ResamplerRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(ResamplerRates, YieldsTheTargetRateAndInterpolatesAcrossCycles) {
  const RateCase& param = GetParam();
  CaptureRig rig;
  startAt(rig, param.rate);
  const auto input = sineSecond(param.rate);
  deliverInCycles(rig, input, param.cycles);

  ASSERT_EQ(rig.pcm.samples.size(), param.expectedOutput);
  // Output k sits at input position k × step however the cycles fell; a
  // lost fraction or tail would shift every later sample.
  const double step = param.rate / TARGET_RATE;
  for (std::size_t k = 0; k < rig.pcm.samples.size(); ++k) {
    const double x = double(k) * step;
    const std::size_t i = std::size_t(x);
    const double f = x - double(i);
    const double expected = ((1 - f) * input[i] + f * input[std::min(i + 1, input.size() - 1)]) * 32767.0;
    ASSERT_NEAR(rig.pcm.samples[k], expected, 2.0) << "sample " << k;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ResamplerRates,
    ::testing::Values(RateCase{"at48kInEvenCycles", 48000, {480}, 16000},
                      RateCase{"at48kOneSampleAtATime", 48000, {1}, 16000},
                      RateCase{"at48kInOddCycles", 48000, {512, 7, 1001}, 16000},
                      RateCase{"at44k1InVariedCycles", 44100, {441, 17, 1000, 3, 512}, 16000},
                      RateCase{"at44k1InLargeCycles", 44100, {4096}, 16000},
                      RateCase{"at16kOneToOne", 16000, {160}, 15999},
                      RateCase{"at8kUpsampled", 8000, {80, 33}, 15998}),
    [](const auto& info) { return std::string(info.param.name); });

struct ScaleCase {
  float input;
  std::int16_t expected;
};
void PrintTo(const ScaleCase& c, std::ostream* os) { *os << c.input; }


class ResamplerScale : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ResamplerScale, ClipsAndTruncatesTowardZero) {
  CaptureRig rig;
  startAt(rig, 48000);
  const float input[] = {GetParam().input, GetParam().input};
  rig.unit().deliver(input);
  ASSERT_EQ(rig.pcm.samples.size(), 1u);
  EXPECT_EQ(rig.pcm.samples[0], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ResamplerScale,
                         ::testing::Values(ScaleCase{1.0f, 32767}, ScaleCase{1.5f, 32767},
                                           ScaleCase{-1.0f, -32767}, ScaleCase{-4.0f, -32767},
                                           ScaleCase{0.5f, 16383}, ScaleCase{-0.5f, -16383},
                                           ScaleCase{0.99999f, 32766}, ScaleCase{0.00002f, 0},
                                           ScaleCase{-0.00002f, 0}, ScaleCase{0.0f, 0}));

TEST(Resampler, KeepsASinglePendingSampleForTheNextCycle) {
  CaptureRig rig;
  startAt(rig, 48000);
  const float first[] = {0.25f};
  rig.unit().deliver(first);
  EXPECT_EQ(rig.pcm.writes, 0);

  const float next[] = {-0.75f, 0.0f, 0.5f, 0.5f};
  rig.unit().deliver(next);
  // Positions 0 and 3 of [0.25, -0.75, 0, 0.5, 0.5].
  EXPECT_EQ(rig.pcm.samples, (std::vector<std::int16_t>{8191, 16383}));
}

TEST(Resampler, AFailedRenderProducesNothingAndCaptureGoesOn) {
  CaptureRig rig;
  startAt(rig, 48000);
  rig.system.unitScript->statuses["render"] = {-50};
  const float lost[] = {0.9f, 0.9f, 0.9f, 0.9f};
  EXPECT_EQ(rig.unit().deliver(lost), -50);
  EXPECT_EQ(rig.pcm.writes, 0);

  const float kept[] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  EXPECT_EQ(rig.unit().deliver(kept), coreaudio::noErr);
  // Nothing of the failed cycle reached the resampler.
  EXPECT_EQ(rig.pcm.samples, (std::vector<std::int16_t>{16383, 16383}));
}

TEST(Resampler, CyclesLargerThanTheRenderBufferAreTakenWhole) {
  CaptureRig rig;
  startAt(rig, 48000);
  const std::vector<float> big(9000 * 3, 0.25f);
  rig.unit().deliver(big);
  EXPECT_EQ(rig.pcm.samples.size(), 9000u);
}

TEST(Resampler, NothingIsCapturedBeforeStartOrAfterStop) {
  CaptureRig rig;
  EXPECT_EQ(rig.mic.pullInput(nullptr, nullptr, 1, 64), coreaudio::noErr);
  startAt(rig, 48000);
  rig.mic.stop();
  EXPECT_EQ(rig.mic.pullInput(nullptr, nullptr, 1, 64), coreaudio::noErr);
  EXPECT_TRUE(rig.pcm.samples.empty());
}

}  // namespace
}  // namespace ostrel::mic

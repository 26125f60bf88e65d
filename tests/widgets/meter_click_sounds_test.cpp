// The meter's click sounds: file layout, lengths, and that they are clicks.
#include <QBuffer>
#include <QWaveDecoder>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "resources/click_sounds.h"

using namespace volmar;

namespace {

constexpr TClickSound kAll[] = {csMtrSlow, csMtrNorm, csMtrFast};

std::uint32_t U32(const QByteArray& B, int At) {
    return qFromLittleEndian<std::uint32_t>(B.constData() + At);
}
std::uint16_t U16(const QByteArray& B, int At) {
    return qFromLittleEndian<std::uint16_t>(B.constData() + At);
}

std::vector<int> Samples(const QByteArray& Wave) {
    std::vector<int> s;
    for (int at = 44; at + 1 < Wave.size(); at += 2)
        s.push_back(qFromLittleEndian<std::int16_t>(Wave.constData() + at));
    return s;
}

// Root mean square of the samples from From to To milliseconds.
double Rms(const std::vector<int>& S, double FromMs, double ToMs) {
    const auto a = static_cast<std::size_t>(FromMs * kClickSampleRate / 1000);
    const auto b = std::min(S.size(), static_cast<std::size_t>(ToMs * kClickSampleRate / 1000));
    double sum = 0;
    for (std::size_t i = a; i < b; ++i) sum += double(S[i]) * S[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
}

} // namespace

TEST(MeterClickSounds, NamesAndLengthsFollowTheSpeeds) {
    EXPECT_STREQ(ClickSoundName(csMtrSlow), "MTRSLOW");
    EXPECT_STREQ(ClickSoundName(csMtrNorm), "MTRNORM");
    EXPECT_STREQ(ClickSoundName(csMtrFast), "MTRFAST");
    const double expectedMs[] = {196, 105, 25};
    for (int i = 0; i < 3; ++i) {
        const QByteArray w = ClickSoundWave(kAll[i]);
        const double ms = (w.size() - 44) / 2 * 1000.0 / kClickSampleRate;
        EXPECT_NEAR(ms, expectedMs[i], 1.0) << ClickSoundName(kAll[i]);
        EXPECT_EQ((w.size() - 44) / 2, ClickSoundSamples(kAll[i]));
    }
}

TEST(MeterClickSounds, HeaderIsPlainPcmMono16BitAt22050) {
    for (TClickSound s : kAll) {
        SCOPED_TRACE(ClickSoundName(s));
        const QByteArray w = ClickSoundWave(s);
        ASSERT_GE(w.size(), 44);
        EXPECT_EQ(w.left(4), "RIFF");
        EXPECT_EQ(U32(w, 4), std::uint32_t(w.size() - 8));
        EXPECT_EQ(w.mid(8, 4), "WAVE");
        EXPECT_EQ(w.mid(12, 4), "fmt ");
        EXPECT_EQ(U32(w, 16), 16u);
        EXPECT_EQ(U16(w, 20), 1); // PCM
        EXPECT_EQ(U16(w, 22), 1); // mono
        EXPECT_EQ(U32(w, 24), 22050u);
        EXPECT_EQ(U32(w, 28), 44100u);
        EXPECT_EQ(U16(w, 32), 2);
        EXPECT_EQ(U16(w, 34), 16);
        EXPECT_EQ(w.mid(36, 4), "data");
        EXPECT_EQ(U32(w, 40), std::uint32_t(w.size() - 44));
    }
}

TEST(MeterClickSounds, QtReadsThemAsWaveFiles) {
    for (TClickSound s : kAll) {
        SCOPED_TRACE(ClickSoundName(s));
        QByteArray w = ClickSoundWave(s);
        QBuffer buffer(&w);
        buffer.open(QIODevice::ReadOnly);
        QWaveDecoder decoder(&buffer);
        ASSERT_TRUE(decoder.open(QIODevice::ReadOnly));
        const QAudioFormat f = decoder.audioFormat();
        EXPECT_EQ(f.sampleRate(), 22050);
        EXPECT_EQ(f.channelCount(), 1);
        EXPECT_EQ(f.sampleFormat(), QAudioFormat::Int16);
        EXPECT_EQ(decoder.size(), w.size() - 44);
    }
}

TEST(MeterClickSounds, EachIsALoudAttackThatDiesAway) {
    for (TClickSound s : kAll) {
        SCOPED_TRACE(ClickSoundName(s));
        const std::vector<int> v = Samples(ClickSoundWave(s));
        int peak = 0;
        std::size_t peakAt = 0;
        for (std::size_t i = 0; i < v.size(); ++i)
            if (std::abs(v[i]) > peak) peak = std::abs(v[i]), peakAt = i;
        EXPECT_GT(peak, 20000);
        EXPECT_LT(peak, 32767); // headroom, no clipping
        // The loudest moment is the strike at the very start.
        EXPECT_LT(peakAt * 1000.0 / kClickSampleRate, 3.0);
        const double lengthMs = v.size() * 1000.0 / kClickSampleRate;
        EXPECT_GT(Rms(v, 0, 3), 8 * Rms(v, lengthMs * 0.6, lengthMs));
        // It ends in silence, so stopping it never clicks again.
        EXPECT_LT(std::abs(v.back()), 50);
    }
}

TEST(MeterClickSounds, LongerClicksHaveASecondSmallerTick) {
    struct {
        TClickSound Sound;
        double Tick; // ms
    } cases[] = {{csMtrSlow, 112}, {csMtrNorm, 60}};
    for (const auto& c : cases) {
        SCOPED_TRACE(ClickSoundName(c.Sound));
        const std::vector<int> v = Samples(ClickSoundWave(c.Sound));
        const double before = Rms(v, c.Tick - 10, c.Tick - 1);
        const double tick = Rms(v, c.Tick, c.Tick + 3);
        EXPECT_GT(tick, 5 * before);
        EXPECT_LT(tick, Rms(v, 0, 3));
    }
}

TEST(MeterClickSounds, SoundsAreDistinctAndStable) {
    EXPECT_NE(ClickSoundWave(csMtrSlow), ClickSoundWave(csMtrNorm));
    // The same bytes every time: the players are built from one image.
    EXPECT_EQ(ClickSoundWave(csMtrFast), ClickSoundWave(csMtrFast));
    EXPECT_EQ(ClickSoundWave(csMtrFast).constData(), ClickSoundWave(csMtrFast).constData());
}

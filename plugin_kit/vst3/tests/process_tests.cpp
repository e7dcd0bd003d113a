// Audio processing through IAudioProcessor: buses and arrangements, block
// splitting at parameter-change offsets, flush calls, transport, the
// floating-point mode, and call-order misuse.

#include "test_host.hpp"

#include "plugin_kit/params/param_id.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace vst3_test;

const ParamID level_id = param_id_hash("level");
const ParamID count_id = param_id_hash("count");

TEST(Vst3Process, OneStereoBusEachWay) {
    Instance inst;
    const auto& c = inst.comp();
    EXPECT_EQ(c.get_bus_count(inst.component, kAudio, kInput), 1);
    EXPECT_EQ(c.get_bus_count(inst.component, kAudio, kOutput), 1);
    EXPECT_EQ(c.get_bus_count(inst.component, kEvent, kInput), 0);
    EXPECT_EQ(c.get_bus_count(inst.component, kEvent, kOutput), 0);

    const std::u16string names[2] = {u"Input", u"Output"};
    for (const BusDirection dir : {kInput, kOutput}) {
        BusInfo bus{};
        ASSERT_EQ(c.get_bus_info(inst.component, kAudio, dir, 0, &bus), kResultOk);
        EXPECT_EQ(bus.media_type, kAudio);
        EXPECT_EQ(bus.direction, dir);
        EXPECT_EQ(bus.channel_count, 2);
        EXPECT_EQ(std::u16string(bus.name), names[dir]);
        EXPECT_EQ(bus.bus_type, kMain);
        EXPECT_EQ(bus.flags, kDefaultActive);
        EXPECT_EQ(c.get_bus_info(inst.component, kAudio, dir, 1, &bus), kInvalidArgument);
        EXPECT_EQ(c.get_bus_info(inst.component, kEvent, dir, 0, &bus), kInvalidArgument);
        SpeakerArrangement arr = 0;
        ASSERT_EQ(inst.proc().get_bus_arrangement(inst.processor, dir, 0, &arr), kResultOk);
        EXPECT_EQ(arr, kSpeakerArrStereo);
    }

    struct Case {
        std::vector<SpeakerArrangement> ins, outs;
        tresult expected;
    };
    constexpr SpeakerArrangement mono = 1 << 19; // centre
    constexpr SpeakerArrangement surround = 0x3F;
    const Case cases[] = {
        {{kSpeakerArrStereo}, {kSpeakerArrStereo}, kResultTrue},
        {{mono}, {kSpeakerArrStereo}, kResultFalse},
        {{kSpeakerArrStereo}, {mono}, kResultFalse},
        {{mono}, {mono}, kResultFalse},
        {{surround}, {surround}, kResultFalse},
        {{kSpeakerArrStereo, kSpeakerArrStereo}, {kSpeakerArrStereo}, kResultFalse},
        {{}, {kSpeakerArrStereo}, kResultFalse},
        {{kSpeakerArrStereo}, {}, kResultFalse},
    };
    for (const Case& k : cases) {
        std::vector<SpeakerArrangement> ins = k.ins, outs = k.outs;
        EXPECT_EQ(inst.proc().set_bus_arrangements(inst.processor, ins.empty() ? nullptr : ins.data(),
                                                   static_cast<int32>(ins.size()),
                                                   outs.empty() ? nullptr : outs.data(),
                                                   static_cast<int32>(outs.size())),
                  k.expected);
        SpeakerArrangement arr = 0;
        inst.proc().get_bus_arrangement(inst.processor, kOutput, 0, &arr);
        EXPECT_EQ(arr, kSpeakerArrStereo) << "a refused arrangement must leave stereo in place";
    }

    EXPECT_EQ(inst.proc().can_process_sample_size(inst.processor, kSample32), kResultTrue);
    EXPECT_EQ(inst.proc().can_process_sample_size(inst.processor, kSample64), kResultFalse);
    ProcessSetup s64{kRealtime, kSample64, 512, 48000.0};
    EXPECT_EQ(inst.proc().setup_processing(inst.processor, &s64), kResultFalse);
    EXPECT_EQ(inst.proc().get_latency_samples(inst.processor), 0u);
    EXPECT_EQ(inst.proc().get_tail_samples(inst.processor), 0u);
}

TEST(Vst3Process, ActivationPassesTheSampleRateAndProcessingResets) {
    Instance inst;
    ASSERT_EQ(inst.setup(96000.0), kResultOk);
    ASSERT_EQ(inst.set_active(true), kResultOk);
    EXPECT_EQ(inst.plugin->initialize_count, 1);
    EXPECT_EQ(inst.plugin->sample_rate, 96000.0f);
    ASSERT_EQ(inst.set_processing(true), kResultOk);
    EXPECT_EQ(inst.plugin->reset_count, 1);
    EXPECT_TRUE(inst.plugin->reset_saw_flush_to_zero);
    // The setup belongs to the inactive state.
    EXPECT_EQ(inst.setup(44100.0), kResultFalse);
    ASSERT_EQ(inst.set_active(false), kResultOk);
    EXPECT_EQ(inst.plugin->deactivate_count, 1);
    ASSERT_EQ(inst.setup(44100.0), kResultOk);
    ASSERT_EQ(inst.set_active(true), kResultOk);
    EXPECT_EQ(inst.plugin->sample_rate, 44100.0f);

    ProcessSetup bad{kRealtime, kSample32, 512, std::numeric_limits<double>::quiet_NaN()};
    inst.set_active(false);
    EXPECT_EQ(inst.proc().setup_processing(inst.processor, &bad), kInvalidArgument);
    bad.sample_rate = 0.0;
    EXPECT_EQ(inst.proc().setup_processing(inst.processor, &bad), kInvalidArgument);
    EXPECT_EQ(inst.proc().setup_processing(inst.processor, nullptr), kInvalidArgument);
}

// A step of `level` from 1.0 (normalised 0.5) to 0.5 (normalised 0.25) at
// offset k must change the output exactly at sample k, in place or not.
TEST(Vst3Process, ParameterStepTakesEffectAtItsSampleOffset) {
    constexpr int32 n = 64;
    for (const bool in_place : {true, false}) {
        for (const int32 k : {0, 1, 17, 63}) {
            Instance inst;
            inst.start();
            Block block(n, in_place, 1.0f);
            ChangeList changes;
            changes.add(level_id, k, 0.25);
            block.data.input_parameter_changes = changes.changes();
            ASSERT_EQ(inst.proc().process(inst.processor, &block.data), kResultOk);
            for (int32 i = 0; i < n; ++i) {
                const float expected = i < k ? 1.0f : 0.5f;
                ASSERT_EQ(block.out_l[static_cast<size_t>(i)], expected) << "k=" << k << " i=" << i;
                ASSERT_EQ(block.out_r[static_cast<size_t>(i)], expected) << "k=" << k << " i=" << i;
            }
            const auto& calls = inst.plugin->calls;
            ASSERT_EQ(calls.size(), k == 0 ? 1u : 2u) << "k=" << k;
            EXPECT_EQ(calls.front().frames, static_cast<uint32_t>(k == 0 ? n : k));
            EXPECT_EQ(calls.back().frames, static_cast<uint32_t>(n - (k == 0 ? 0 : k)));
        }
    }
}

TEST(Vst3Process, SeveralQueuesSplitTheBlockAtEveryOffset) {
    constexpr int32 n = 100;
    Instance inst;
    inst.start();
    Block block(n, false, 1.0f);
    ChangeList changes;
    changes.add(level_id, 10, 0.75);  // 1.5 from sample 10
    changes.add(count_id, 30, 1.0);   // a different parameter splits too
    changes.add(level_id, 60, 0.0);   // silence from sample 60
    changes.add(level_id, 60, 0.125); // same offset: the later point wins (0.25)
    changes.add(count_id, -5, 0.5);   // before the block: applied first
    changes.add(level_id, 250, 1.0);  // beyond the block: lands after it
    block.data.input_parameter_changes = changes.changes();
    ASSERT_EQ(inst.proc().process(inst.processor, &block.data), kResultOk);

    std::vector<uint32_t> pieces;
    for (const ProcessCall& c : inst.plugin->calls) {
        pieces.push_back(c.frames);
    }
    EXPECT_EQ(pieces, (std::vector<uint32_t>{10, 20, 30, 40}));
    for (int32 i = 0; i < n; ++i) {
        const float expected = i < 10 ? 1.0f : i < 60 ? 1.5f : 0.25f;
        ASSERT_FLOAT_EQ(block.out_l[static_cast<size_t>(i)], expected) << i;
    }
    EXPECT_EQ(inst.plugin->params_->level.value(), 2.0f) << "the point beyond the block must still land";
    EXPECT_EQ(inst.plugin->params_->count.value(), 16);
}

TEST(Vst3Process, FlushCallsApplyChangesWithoutAudio) {
    Instance inst;
    inst.start();

    // Zero frames with buffers: the plug-in sees an empty stereo block.
    Block empty(0, true);
    ChangeList changes;
    changes.add(level_id, 0, 0.75);
    empty.data.input_parameter_changes = changes.changes();
    EXPECT_EQ(inst.proc().process(inst.processor, &empty.data), kResultOk);
    EXPECT_FLOAT_EQ(inst.plugin->params_->level.value(), 1.5f);
    ASSERT_EQ(inst.plugin->calls.size(), 1u);
    EXPECT_EQ(inst.plugin->calls[0].frames, 0u);
    EXPECT_EQ(inst.plugin->calls[0].channels, 2u);

    // Frames but no buffers (numChannels 0, null arrays): values still land,
    // the plug-in sees a block without channels.
    Block no_buffers(32, true);
    no_buffers.output.num_channels = 0;
    no_buffers.output.channel_buffers32 = nullptr;
    no_buffers.input.num_channels = 0;
    no_buffers.input.channel_buffers32 = nullptr;
    ChangeList more;
    more.add(level_id, 31, 0.25);
    no_buffers.data.input_parameter_changes = more.changes();
    EXPECT_EQ(inst.proc().process(inst.processor, &no_buffers.data), kResultOk);
    EXPECT_FLOAT_EQ(inst.plugin->params_->level.value(), 0.5f);
    ASSERT_EQ(inst.plugin->calls.size(), 2u);
    EXPECT_EQ(inst.plugin->calls[1].channels, 0u);

    // No buses at all.
    Block bare(16, true);
    bare.data.num_inputs = 0;
    bare.data.num_outputs = 0;
    bare.data.inputs = nullptr;
    bare.data.outputs = nullptr;
    EXPECT_EQ(inst.proc().process(inst.processor, &bare.data), kResultOk);
}

TEST(Vst3Process, NonFiniteHostValuesAreIgnored) {
    Instance inst;
    inst.start();
    for (const double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()}) {
        Block block(8, true);
        ChangeList changes;
        changes.add(level_id, 0, bad);
        changes.add(level_id, 4, bad);
        block.data.input_parameter_changes = changes.changes();
        ASSERT_EQ(inst.proc().process(inst.processor, &block.data), kResultOk);
        EXPECT_EQ(inst.plugin->params_->level.value(), 1.0f) << bad;
        EXPECT_EQ(inst.set_normalized(level_id, bad), kInvalidArgument) << bad;
        EXPECT_EQ(inst.plugin->params_->level.value(), 1.0f) << bad;
    }
    // Out-of-range finite values are clamped, and unknown ids do nothing.
    Block block(8, true);
    ChangeList changes;
    changes.add(level_id, 0, 7.0);
    changes.add(12345, 0, 0.5);
    block.data.input_parameter_changes = changes.changes();
    ASSERT_EQ(inst.proc().process(inst.processor, &block.data), kResultOk);
    EXPECT_EQ(inst.plugin->params_->level.value(), 2.0f);
}

TEST(Vst3Process, ProcessContextBecomesTheTransport) {
    struct Case {
        bool with_context;
        uint32 state;
        double tempo;
        bool playing;
        std::optional<double> expected_tempo;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {true, kPlaying | kTempoValid, 133.0, true, 133.0},
        {true, kTempoValid, 90.5, false, 90.5},
        {true, kPlaying, 133.0, true, std::nullopt}, // tempo not marked valid
        {true, kPlaying | kTempoValid, nan, true, std::nullopt},
        {false, 0, 0.0, false, std::nullopt},
    };
    for (const Case& k : cases) {
        Instance inst;
        inst.start();
        Block block(4, true);
        block.context.state = k.state;
        block.context.tempo = k.tempo;
        if (!k.with_context) {
            block.data.process_context = nullptr;
        }
        ASSERT_EQ(inst.proc().process(inst.processor, &block.data), kResultOk);
        ASSERT_EQ(inst.plugin->calls.size(), 1u);
        EXPECT_EQ(inst.plugin->calls[0].transport.playing, k.playing);
        EXPECT_EQ(inst.plugin->calls[0].transport.tempo, k.expected_tempo);
    }
}

TEST(Vst3Process, FlushToZeroInsideAndTheCallersModeRestored) {
    Instance inst;
    inst.start();
    const unsigned saved = _mm_getcsr();
    // A caller mode of our own choosing: round toward zero, no FTZ/DAZ.
    const unsigned caller = (saved & ~0x8040u & ~0x6000u) | 0x6000u;
    _mm_setcsr(caller);
    Block block(16, true);
    const tresult r = inst.proc().process(inst.processor, &block.data);
    const unsigned after = _mm_getcsr();
    inst.set_processing(true); // reset inside, then back
    const unsigned after_reset = _mm_getcsr();
    _mm_setcsr(saved);
    ASSERT_EQ(r, kResultOk);
    EXPECT_TRUE(inst.plugin->calls.at(0).flush_to_zero);
    EXPECT_TRUE(inst.plugin->reset_saw_flush_to_zero);
    EXPECT_EQ(after, caller);
    EXPECT_EQ(after_reset, caller);
}

TEST(Vst3Process, MisuseIsAnsweredWithoutCrashing) {
    Instance inst;
    Block block(32, false, 0.5f);
    ChangeList changes;
    changes.add(level_id, 3, 0.25);
    block.data.input_parameter_changes = changes.changes();

    // Before setActive: refused, the plug-in untouched, the output a copy of
    // the input (never the stale buffer), the values taken.
    EXPECT_EQ(inst.proc().process(inst.processor, &block.data), kNotInitialized);
    EXPECT_TRUE(inst.plugin->calls.empty());
    EXPECT_EQ(block.out_l[0], 0.5f);
    EXPECT_EQ(inst.plugin->params_->level.value(), 0.5f);
    EXPECT_EQ(inst.set_processing(true), kNotInitialized);
    EXPECT_EQ(inst.plugin->reset_count, 0);

    EXPECT_EQ(inst.proc().process(inst.processor, nullptr), kInvalidArgument);
    block.data.num_samples = -1;
    EXPECT_EQ(inst.proc().process(inst.processor, &block.data), kInvalidArgument);
    block.data.num_samples = 32;

    // Activated twice, deactivated twice: one initialize, one deactivate.
    inst.setup();
    EXPECT_EQ(inst.set_active(true), kResultOk);
    EXPECT_EQ(inst.set_active(true), kResultOk);
    EXPECT_EQ(inst.plugin->initialize_count, 1);
    block.data.symbolic_sample_size = kSample64;
    EXPECT_EQ(inst.proc().process(inst.processor, &block.data), kInvalidArgument);
    EXPECT_TRUE(inst.plugin->calls.empty());
    block.data.symbolic_sample_size = kSample32;
    EXPECT_EQ(inst.proc().process(inst.processor, &block.data), kResultOk);
    EXPECT_EQ(inst.set_active(false), kResultOk);
    EXPECT_EQ(inst.set_active(false), kResultOk);
    EXPECT_EQ(inst.plugin->deactivate_count, 1);

    // Terminating (or releasing) an active instance deactivates it.
    inst.set_active(true);
    EXPECT_EQ(inst.comp().terminate(inst.component), kResultOk);
    EXPECT_EQ(inst.plugin->deactivate_count, 2);
}

} // namespace

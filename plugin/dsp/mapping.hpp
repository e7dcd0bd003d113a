#pragma once
// Copies the 29 parameter values and the host tempo into the engine, once
// per block on the audio thread before the block's frames. Every value is
// pushed every block (changes land as a step at the block boundary).
// Nothing allocates: a changed `swarm_count` rebuilds the banks in their
// fixed 16-voice storage. First of all, the right carrier's running state
// catches up with the left one (see TessellgroveProcessor).

namespace tessellgrove {

struct TessellgroveParams;
class TessellgroveProcessor;

// `host_tempo` is the instance's shared tempo in BPM, used clamped to 20..300.
void update_processor_params(const TessellgroveParams& params, float host_tempo,
                             TessellgroveProcessor& processor) noexcept;

} // namespace tessellgrove

#pragma once
// Copies the 29 parameter values and the host tempo into the engine, once
// per block on the audio thread before the block's frames. Every value is
// pushed every block (changes land as a step at the block boundary); only
// a changed `swarm_count` allocates (the banks are rebuilt).

namespace tessellgrove {

struct TessellgroveParams;
class TessellgroveProcessor;

// `host_tempo` is the instance's shared tempo in BPM, used clamped to 20..300.
void update_processor_params(const TessellgroveParams& params, float host_tempo,
                             TessellgroveProcessor& processor) noexcept;

} // namespace tessellgrove

#pragma once
// Reference copy of the straightforward scalar engine (two carriers each
// advanced on its own, one sinf per voice, voice law recomputed in full),
// kept only for tests to compare the production engine against. Do not
// optimise it: its value is that it is the plain arithmetic.
// Copies the 29 parameter values and the host tempo into the engine, once
// per block on the audio thread before the block's frames. Every value is
// pushed every block (changes land as a step at the block boundary); only
// a changed `swarm_count` allocates (the banks are rebuilt).

#include "plugin/params/tessellgrove_params.hpp"

namespace tessellgrove::reference {

class TessellgroveProcessor;

// `host_tempo` is the instance's shared tempo in BPM, used clamped to 20..300.
void update_processor_params(const TessellgroveParams& params, float host_tempo,
                             TessellgroveProcessor& processor) noexcept;

} // namespace tessellgrove::reference

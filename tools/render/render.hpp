#pragma once
// The render itself and the parameter listing of tessellgrove-render.

#include "tools/render/options.hpp"
#include "tools/render/render_host.hpp"

#include <iosfwd>
#include <vector>

namespace tessellgrove::render {

// Exit codes of the program.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failure = 1; // input, output or processing failed
inline constexpr int exit_usage = 2;   // bad command line or parameter setting

// Applies the settings, renders the input (or the built-in signal) through
// `host` and writes the output. Failures print one line to `err` and leave
// no output behind; an existing output file then stays as it was.
int render(const RenderOptions& options, RenderHost& host, std::ostream& err);

// The parameter list as an aligned, human-readable table.
void print_param_table(const std::vector<ParamInfo>& params, std::ostream& out);
// The parameter list as a JSON array, one object per parameter.
void print_param_json(const std::vector<ParamInfo>& params, std::ostream& out);

} // namespace tessellgrove::render

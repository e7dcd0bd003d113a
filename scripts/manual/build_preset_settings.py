#!/usr/bin/env python3
"""Builds scripts/manual/preset_settings.cpp against a Ninja build tree.

The program links the same libraries as tessellgrove-render, so the compile
flags and the link line are taken from that target's own Ninja commands:
whatever the build tree uses for the renderer is what the program gets. The
renderer must already be built in the tree.

usage: build_preset_settings.py BUILD_DIR OUTPUT_PROGRAM
"""

import os
import shlex
import subprocess
import sys


def ninja_commands(build_dir):
    result = subprocess.run(["ninja", "-C", build_dir, "-t", "commands", "tessellgrove-render"],
                            check=True, capture_output=True, text=True)
    return result.stdout.splitlines()


def compile_flags(line):
    """Include paths, defines, language and code-generation flags of a compile line."""
    flags = []
    for token in shlex.split(line):
        if token.startswith(("-I", "-D", "-std=", "-f", "-O", "-m", "-isystem")) or token == "-pthread":
            flags.append(token)
    return flags


def link_inputs(line, build_dir):
    """Libraries and link options of the renderer's link line, in order."""
    inputs = []
    for token in shlex.split(line):
        if token.endswith((".a", ".so")) or ".so." in token:
            inputs.append(token if os.path.isabs(token) else os.path.join(build_dir, token))
        elif token.startswith(("-l", "-Wl,", "-L", "-f", "-static")) or token == "-pthread":
            # -f: sanitizer and similar options the link needs as well
            inputs.append(token)
    return inputs


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    build_dir, program = sys.argv[1], sys.argv[2]
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "preset_settings.cpp")

    compile_line = link_line = None
    for line in ninja_commands(build_dir):
        if " -c " in line and line.rstrip().endswith("render/main.cpp"):
            compile_line = line
        elif "-o tools/tessellgrove-render" in line:
            link_line = line
    if compile_line is None or link_line is None:
        sys.exit("build_preset_settings: cannot find the tessellgrove-render commands in " + build_dir)

    compiler = shlex.split(compile_line)[0]
    command = ([compiler] + compile_flags(compile_line) + [source, "-o", program]
               + ["-Wl,--start-group"] + link_inputs(link_line, build_dir) + ["-Wl,--end-group"])
    subprocess.run(command, check=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes docs/manual.md from the template and what the plug-in reports.

Inputs, all produced by make-manual.sh from the built product:
  params.json   tessellgrove-render --list-params --json
  presets.json  preset-settings (scripts/manual/preset_settings.cpp)
  help.txt      tessellgrove-render --help

The template (manual.md.in) holds the prose; lines consisting of a single
@@NAME@@ marker are replaced by generated blocks, and {{name}} inside a line
by a short value. Nothing here reads the pictures, so the text comes out the
same whether or not they are drawn.

With a seventh argument, also writes the list of preset pictures the text
refers to, one "path<TAB>preset name" line each (paths relative to docs/).

usage: write_manual.py TEMPLATE NOTES PARAMS_JSON PRESETS_JSON HELP_TXT OUTPUT [PICTURES]
"""

import json
import re
import sys


def fail(message):
    sys.exit("write_manual: " + message)


def cell(text):
    """Text made safe for a Markdown table cell."""
    return str(text).replace("\\", "\\\\").replace("|", "\\|").replace("*", "\\*").replace("_", "\\_")


def code(text):
    return "`" + str(text) + "`"


def number(value):
    """A plain value as a short decimal: 0.5, 440, -12, 0.95."""
    if float(value).is_integer():
        return str(int(value))
    return format(value, ".7g")


def slug(name):
    return re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-")


def preset_image(preset):
    return "images/presets/%02d-%s.png" % (preset["index"], slug(preset["name"]))


def read_notes(path, params):
    notes = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            pid, _, text = line.partition("\t")
            if not text:
                fail("%s: no tab after '%s'" % (path, pid))
            notes[pid] = text
    ids = [p["id"] for p in params]
    missing = [i for i in ids if i not in notes]
    extra = [i for i in notes if i not in ids]
    if missing or extra:
        fail("%s does not match the plug-in's parameters (missing: %s; unknown: %s)"
             % (path, ", ".join(missing) or "none", ", ".join(extra) or "none"))
    return notes


def range_text(p):
    if p["kind"] == "enum":
        return ", ".join(p["variants"])
    if p["kind"] == "bool":
        return p["min_text"] + ", " + p["max_text"]
    return p["min_text"] + " to " + p["max_text"]


def shown_number(text, unit):
    """The number a value text shows, without its unit, or None."""
    if unit and text.endswith(unit):
        text = text[:-len(unit)]
    try:
        return float(text)
    except ValueError:
        return None


def default_text(p):
    if p["kind"] == "enum":
        return "%s (option %s)" % (p["default_text"], number(p["default"]))
    if p["kind"] == "bool":
        return p["default_text"]
    # The plain value only where the text shows another number (percentages).
    shown = shown_number(p["default_text"], p["unit"])
    if shown is not None and abs(shown - p["default"]) <= 1e-9 * max(1.0, abs(shown)):
        return p["default_text"]
    return "%s (%s)" % (p["default_text"], number(p["default"]))


def param_table(params, notes):
    kinds = {"float": "continuous", "int": "whole number", "bool": "switch", "enum": "options"}
    lines = ["| # | Name | id | Kind | Range or options | Default | Unit | What it does |",
             "|---|---|---|---|---|---|---|---|"]
    for p in params:
        unit = p["unit"].strip()
        lines.append("| %d | %s | %s | %s | %s | %s | %s | %s |" % (
            p["index"], cell(p["name"]), code(p["id"]), kinds.get(p["kind"], p["kind"]),
            cell(range_text(p)), cell(default_text(p)), cell(unit) if unit else "–", cell(notes[p["id"]])))
    return "\n".join(lines)


def changed_settings(preset, init, params):
    """(param, preset text, init text) for every parameter the preset moves away from Init."""
    init_values = {q["id"]: q for q in init["params"]}
    by_id = {p["id"]: p for p in params}
    changes = []
    for q in preset["params"]:
        base = init_values[q["id"]]
        if q["normalised"] != base["normalised"]:
            changes.append((by_id[q["id"]], q["text"], base["text"]))
    return changes


def check_presets(presets, params):
    ids = [p["id"] for p in params]
    if not presets or presets[0]["name"] != "Init":
        fail("the first factory preset is not 'Init'")
    for preset in presets:
        if [q["id"] for q in preset["params"]] != ids:
            fail("preset '%s' does not list the plug-in's parameters in order" % preset["name"])


def text_of(preset, pid):
    for q in preset["params"]:
        if q["id"] == pid:
            return q["text"]
    fail("no '%s' in preset '%s'" % (pid, preset["name"]))


def preset_overview(presets, params):
    init = presets[0]
    lines = ["| # | Preset | Carrier | Character | Mix | Settings changed from Init |",
             "|---|---|---|---|---|---|"]
    for preset in presets:
        changes = changed_settings(preset, init, params)
        anchor = "preset-%s" % slug(preset["name"])
        lines.append("| %d | [%s](#%s) | %s | %s | %s | %d |" % (
            preset["index"], cell(preset["name"]), anchor, cell(text_of(preset, "carrier_mode")),
            cell(text_of(preset, "char_mode")), cell(text_of(preset, "mix")), len(changes)))
    return "\n".join(lines)


def preset_catalogue(presets, params):
    init = presets[0]
    blocks = []
    for preset in presets:
        changes = changed_settings(preset, init, params)
        out = ['<a id="preset-%s"></a>' % slug(preset["name"]), "",
               "### %d. %s" % (preset["index"], preset["name"]), ""]
        if preset is init:
            out.append("Every parameter at its default (see the parameter reference). "
                       "The other presets are described by what they change from here.")
        else:
            out += ["| Parameter | Setting | Init |", "|---|---|---|"]
            out += ["| %s | %s | %s |" % (cell(p["name"]), cell(text), cell(base)) for p, text, base in changes]
        out += ["", "| Before | After |", "|---|---|",
                "| ![Spectrogram of the unprocessed test phrase](images/phrase.png) "
                "| ![Spectrogram of the test phrase through %s](%s) |" % (preset["name"], preset_image(preset))]
        blocks.append("\n".join(out))
    return "\n\n".join(blocks)


def fenced(text):
    return "```text\n" + text.rstrip("\n") + "\n```"


def main():
    if len(sys.argv) not in (7, 8):
        sys.exit(__doc__.strip().splitlines()[-1])
    template_path, notes_path, params_path, presets_path, help_path, output = sys.argv[1:7]
    with open(params_path, encoding="utf-8") as f:
        params = json.load(f)
    with open(presets_path, encoding="utf-8") as f:
        preset_data = json.load(f)
    presets = preset_data["presets"]
    with open(help_path, encoding="utf-8") as f:
        help_text = f.read()
    notes = read_notes(notes_path, params)
    check_presets(presets, params)

    blocks = {
        "PARAM_TABLE": param_table(params, notes),
        "PRESET_OVERVIEW": preset_overview(presets, params),
        "PRESET_CATALOGUE": preset_catalogue(presets, params),
        "RENDER_HELP": fenced(help_text),
        "PRESET_FILE_EXAMPLE": "```json\n" + preset_data["example_file"].rstrip("\n") + "\n```",
    }
    values = {
        "param_count": str(len(params)),
        "preset_count": str(len(presets)),
    }

    out = []
    with open(template_path, encoding="utf-8") as f:
        for line in f:
            marker = re.fullmatch(r"@@([A-Z_]+)@@\n?", line)
            if marker:
                if marker.group(1) not in blocks:
                    fail("unknown block @@%s@@ in the template" % marker.group(1))
                out.append(blocks[marker.group(1)] + "\n")
                continue

            def value(match):
                if match.group(1) not in values:
                    fail("unknown value {{%s}} in the template" % match.group(1))
                return values[match.group(1)]

            out.append(re.sub(r"\{\{([a-z_]+)\}\}", value, line))
    with open(output, "w", encoding="utf-8", newline="\n") as f:
        f.write("".join(out))
    if len(sys.argv) == 8:
        with open(sys.argv[7], "w", encoding="utf-8", newline="\n") as f:
            for preset in presets:
                f.write("%s\t%s\n" % (preset_image(preset), preset["name"]))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Checks of Tessellgrove as real hosts see it.

The plans for the Ardour runs are written from here, and every finding is
one line "PASS name: detail" or "FAIL name: detail" on stdout; run.sh counts
them. Exit status 0 when nothing failed.

Commands:
  plan create|reload              print a plan for ardour_session.lua
  clap-scan OUTPUT CLAP_PATH      Qtractor's scanner line for the .clap
  vst3-cache CACHE_DIR BUNDLE     Ardour's VST3 scanner cache entry
  created RESULTS                 results of the "create" Ardour run
  session SESSION_FILE            plug-in records and state in the saved session
  strip SESSION_FILE              remove host-side records of STRIPPED params
  reloaded CREATED RELOADED       results of the "reload" run against the first

Ardour's VST3 state, as saved in the session file: a <Processor type="vst3"
unique-id=CLASS-ID> node whose <vst3> child holds one <Port id=PARAM-ID
value=PLAIN/> per automatable parameter and a <chunk> with, in base64, a VST3
preset container ("VST3", int32 version, the class id as 32 hex characters,
int64 offset of the list; the list is "List", int32 count, then per entry a
4-byte id, int64 offset and int64 size). Its "Comp" entry is the component
state exactly as the plug-in wrote it. Beside <vst3>, each parameter has a
<Controllable name=LABEL value=PLAIN/>.
"""
import base64
import json
import math
import re
import struct
import sys
import xml.etree.ElementTree as ET

PLUGIN = "Tessellgrove"
VERSION = "0.1.0"
CLASS_ID_HEX = b"CorTessellgrove\0".hex().upper()

# (text id, display name, default plain value, lower, upper, kind), in the
# order hosts list them; kind "f" float, "b" switch, "i" integer or option.
PARAMS = [
    ("input_gain", "Input Gain", 0.0, -12.0, 12.0, "f"),
    ("mix", "Mix", 0.5, 0.0, 1.0, "f"),
    ("output_gain", "Output Gain", 0.0, -24.0, 12.0, "f"),
    ("stereo_width", "Stereo Width", 1.0, 0.0, 2.0, "f"),
    ("lock_freq", "Lock Frequency", 440.0, 40.0, 5000.0, "f"),
    ("lock_motion_enable", "Lock Motion Enable", 0, 0, 1, "b"),
    ("lock_motion_rate", "Lock Motion Rate", 4, 0, 8, "i"),
    ("lock_motion_depth", "Lock Motion Depth", 0.5, 0.0, 1.0, "f"),
    ("lock_motion_shape", "Lock Motion Shape", 0, 0, 4, "i"),
    ("carrier_mode", "Carrier Mode", 0, 0, 2, "i"),
    ("carrier_env_amount", "Carrier Env Amount", 0.0, 0.0, 1.0, "f"),
    ("mode_cycle_enable", "Mode Cycle Enable", 0, 0, 1, "b"),
    ("mode_cycle_div", "Mode Cycle Division", 0, 0, 3, "i"),
    ("formant_position", "Formant Position", 0.5, 0.0, 1.0, "f"),
    ("formant_width", "Formant Width", 0.5, 0.0, 1.0, "f"),
    ("formant_morph_rate", "Formant Morph Rate", 0.0, 0.0, 10.0, "f"),
    ("stoch_spread", "Stoch Spread", 0.3, 0.0, 1.0, "f"),
    ("stoch_density", "Stoch Density", 0.5, 0.0, 1.0, "f"),
    ("stoch_smoothing", "Stoch Smoothing", 0.5, 0.0, 1.0, "f"),
    ("swarm_count", "Swarm Count", 4, 2, 16, "i"),
    ("swarm_spread", "Swarm Spread", 0.2, 0.0, 1.0, "f"),
    ("swarm_drift", "Swarm Drift", 0.3, 0.0, 1.0, "f"),
    ("trig_div", "Trigger Division", 1, 0, 3, "i"),
    ("trig_amount", "Trigger Amount", 0.0, 0.0, 1.0, "f"),
    ("char_mode", "Character Mode", 0, 0, 3, "i"),
    ("char_amount", "Character Amount", 0.5, 0.0, 1.0, "f"),
    ("comb_feedback", "Comb Feedback", 0.0, 0.0, 0.95, "f"),
    ("comb_tuning", "Comb Tuning", 440.0, 20.0, 5000.0, "f"),
    ("comb_mix", "Comb Mix", 0.0, 0.0, 1.0, "f"),
]
NAME_OF = {p[0]: p[1] for p in PARAMS}
INT_PARAMS = {p[0] for p in PARAMS if p[5] == "i"}
BOOL_PARAMS = {p[0] for p in PARAMS if p[5] == "b"}

# The settings the create run saves, in plain values (Ardour shows and sets
# VST3 parameters in the plug-in's plain units). The carrier stays "Formant":
# its level is steady, while "Stoch" and "Swarm" wander by several dB from
# run to run and would blur the level comparison after reload.
FINAL = {
    "mix": 0.75,
    "output_gain": -6.0,
    "stereo_width": 1.5,
    "formant_position": 0.8,
    "swarm_count": 11,
    "lock_freq": 1000.0,
    "char_mode": 3,
}
# Set right before the save, with no audio cycle waited for: the state the
# host saves must already hold it (a user's last edit before saving).
LAST_EDIT = ("comb_feedback", 0.5)
SAVED = {**FINAL, LAST_EDIT[0]: LAST_EDIT[1]}
# Parameters whose <Port> and <Controllable> records are removed from the
# saved session before it is reloaded: only the plug-in's own state blob
# still knows their values, so Ardour cannot re-apply them by itself.
STRIPPED = ["lock_freq", "char_mode"]

DB_TOLERANCE = 0.2  # exact gain paths: the dry signal through gains
# Wet path after reload: same settings, but the carriers start from new
# phases, so peak levels over a short window differ by up to about 0.7 dB.
RELOAD_DB_TOLERANCE = 1.5


def host_param_id(text_id):
    h = 0
    for b in text_id.encode("utf-8"):
        h = (h * 31 + b) & 0xFFFFFFFF
    return h & 0x7FFFFFFF


class Report:
    def __init__(self):
        self.failed = 0

    def check(self, name, ok, detail):
        print(f"{'PASS' if ok else 'FAIL'} {name}: {detail}")
        if not ok:
            self.failed += 1
        return ok


def plan(kind):
    lines = []
    if kind == "create":
        lines += ["dump", "measure\tdefault", "bypass", "measure\tinput", "enable",
                  "set\tMix\t0", "measure\tdry",
                  "set\tOutput Gain\t-12", "measure\tdry_minus_12"]
        lines += [f"set\t{NAME_OF[pid]}\t{value}" for pid, value in FINAL.items()]
        lines += ["measure\tfinal", f"set\t{NAME_OF[LAST_EDIT[0]]}\t{LAST_EDIT[1]}", "dump", "save"]
    elif kind == "reload":
        lines += ["dump", "measure\treload", "bypass", "measure\tinput", "enable",
                  "set\tMix\t0", "set\tStereo Width\t1", "measure\treload_dry"]
    else:
        raise SystemExit(f"unknown plan {kind}")
    return "\n".join(lines) + "\n"


def read_results(path):
    """Returns (meters by tag, list of dumps, done flag, error lines)."""
    meters, dumps, errors, done = {}, [], [], False
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if fields[0] == "meter":
                meters[fields[1]] = tuple(float(x) for x in fields[2:5])
            elif fields[0] == "count":
                dumps.append({"count": int(fields[1]), "params": [], "descs": []})
            elif fields[0] == "param":
                value = None if fields[3] == "none" else float(fields[3])
                dumps[-1]["params"].append((fields[2], value))
            elif fields[0] == "desc":
                lower, upper, default = (float(x) for x in fields[2:5])
                dumps[-1]["descs"].append((lower, upper, default, fields[5] == "true", fields[6] == "true"))
            elif fields[0] == "error":
                errors.append(fields[1])
            elif fields[0] == "done":
                done = True
    return meters, dumps, done, errors


def close(a, b, rel=1e-4, abs_tol=1e-4):
    return a is not None and b is not None and math.isclose(a, b, rel_tol=rel, abs_tol=abs_tol)


def expected_plain(pid, settled):
    defaults = {p[0]: p[2] for p in PARAMS}
    return settled.get(pid, defaults[pid])


def check_levels(r, meters, tag, expected_l, expected_r, tolerance, what):
    got = meters.get(tag)
    if got is None:
        return r.check(f"ardour_level_{tag}", False, "no reading")
    ok = abs(got[0] - expected_l) <= tolerance and abs(got[1] - expected_r) <= tolerance
    return r.check(f"ardour_level_{tag}", ok,
                   f"{what}: L {got[0]:.2f} dB, R {got[1]:.2f} dB, expected "
                   f"{expected_l:.2f} / {expected_r:.2f} dB +-{tolerance}")


def check_dump(r, name, dump, settled):
    names = [n for n, _ in dump["params"]]
    expected_names = [p[1] for p in PARAMS]
    r.check(f"{name}_param_list", dump["count"] == len(PARAMS) and names == expected_names,
            f"{dump['count']} parameters" + ("" if names == expected_names
                                             else f", names {names}"))
    values = dict(dump["params"])
    wrong = []
    for pid, label, *_ in PARAMS:
        want = expected_plain(pid, settled)
        if not close(values.get(label), float(want), rel=1e-3, abs_tol=1e-3):
            wrong.append(f"{label}={values.get(label)} (want {want})")
    r.check(f"{name}_param_values", not wrong,
            "all 29 as expected" if not wrong else "; ".join(wrong))


def check_descriptors(r, dump):
    """Ranges, defaults and kinds as Ardour read them from the controller."""
    wrong = []
    for (pid, label, default, lower, upper, kind), desc in zip(PARAMS, dump["descs"]):
        got_lower, got_upper, got_default, toggled, integer_step = desc
        if not (close(got_lower, lower) and close(got_upper, upper)
                and close(got_default, float(default), rel=1e-4)):
            wrong.append(f"{label} range {got_lower}..{got_upper} default {got_default} "
                         f"(want {lower}..{upper}, {default})")
        if toggled != (kind == "b") or integer_step != (kind == "i"):
            wrong.append(f"{label} toggled={toggled} integer_step={integer_step} (kind {kind})")
    r.check("ardour_param_descriptors", not wrong and len(dump["descs"]) == len(PARAMS),
            f"ranges, defaults and kinds of all {len(dump['descs'])} parameters as the host reads them"
            if not wrong else "; ".join(wrong))


def cmd_clap_scan(r, output_path, clap_path):
    with open(output_path, encoding="utf-8", errors="replace") as f:
        lines = [l.rstrip("\n") for l in f if l.startswith("CLAP|")]
    if not r.check("qtractor_clap_scan_line", len(lines) == 1,
                   f"{len(lines)} plug-in line(s)" + (f": {lines[0]}" if lines else "")):
        return
    fields = lines[0].split("|")
    # CLAP|name|audio in:out|midi in:out|controls in:out|flags|path|index|hash
    want = {"name": (fields[1], PLUGIN), "audio in:out": (fields[2], "2:2"),
            "midi in:out": (fields[3], "0:0"), "controls in:out": (fields[4], f"{len(PARAMS)}:0"),
            "path": (fields[6], clap_path), "index": (fields[7], "0")}
    for what, (got, exp) in want.items():
        r.check(f"qtractor_clap_{what.split()[0]}", got == exp, f"{what} {got!r}, expected {exp!r}")
    flags = fields[5].split(",")
    r.check("qtractor_clap_gui", "GUI" in flags, f"flags {fields[5]} (GUI: x11 editor offered)")
    r.check("qtractor_clap_state", "EXT" in flags, f"flags {fields[5]} (EXT: clap.state save/load)")


def cmd_vst3_cache(r, cache_dir, bundle):
    import glob
    entries = []
    for path in glob.glob(f"{cache_dir}/*.v3i"):
        root = ET.parse(path).getroot()
        if root.get("bundle") == bundle:
            entries += root.findall("VST3Info")
    if not r.check("ardour_vst3_cache", len(entries) == 1, f"{len(entries)} class(es) cached for {bundle}"):
        return
    info = entries[0].attrib
    want = {"uid": CLASS_ID_HEX, "name": PLUGIN, "vendor": "Corvalune", "category": "Fx|Distortion",
            "version": VERSION, "sdk-version": "VST 3.6.14", "n_inputs": "2", "n_outputs": "2",
            "n_aux_inputs": "0", "n_aux_outputs": "0", "n_midi_inputs": "0", "n_midi_outputs": "0"}
    wrong = [f"{k}={info.get(k)!r} (want {v!r})" for k, v in want.items() if info.get(k) != v]
    r.check("ardour_vst3_class_info", not wrong,
            "class id, names, category, version, 2 in / 2 out, no aux, no MIDI" if not wrong
            else "; ".join(wrong))


def cmd_created(r, results):
    meters, dumps, done, errors = read_results(results)
    if not r.check("ardour_create_run", done and not errors and len(dumps) == 2,
                   "session created, plug-in inserted, parameters set, saved" if done and not errors
                   else f"incomplete run, errors: {errors}"):
        return
    check_dump(r, "ardour_fresh", dumps[0], {})
    check_descriptors(r, dumps[0])
    base = meters["input"]
    r.check("ardour_level_input", all(-40.0 < x < 0.0 for x in base[:2]),
            f"bypassed bus carries the dummy sine: L {base[0]:.2f} dB, R {base[1]:.2f} dB")
    default = meters["default"]
    r.check("ardour_level_default", all(math.isfinite(x) and x > base[0] - 40.0 for x in default[:2])
            and default[2] > -200.0,
            f"default settings give sound in every read: L {default[0]:.2f} dB, "
            f"R {default[1]:.2f} dB, quietest read {default[2]:.2f} dB")
    check_levels(r, meters, "dry", base[0], base[1], DB_TOLERANCE, "Mix 0 passes the input unchanged")
    check_levels(r, meters, "dry_minus_12", base[0] - 12.0, base[1] - 12.0, DB_TOLERANCE,
                 "Mix 0 with Output Gain -12 dB")
    final = meters["final"]
    r.check("ardour_level_final", all(math.isfinite(x) and x > -120.0 for x in final[:2]),
            f"saved settings give sound: L {final[0]:.2f} dB, R {final[1]:.2f} dB")
    check_dump(r, "ardour_set", dumps[1], SAVED)


def component_state(proc):
    node = proc.find("vst3")
    chunk = None if node is None else node.find("chunk")
    if chunk is None or not (chunk.text or "").strip():
        raise ValueError("the plug-in's <vst3> node carries no <chunk>")
    data = base64.b64decode(chunk.text.strip())
    if len(data) < 48 or data[:4] != b"VST3":
        raise ValueError("chunk is not a VST3 preset container")
    class_id = data[8:40].decode("ascii")
    (list_offset,) = struct.unpack_from("<q", data, 40)
    if data[list_offset:list_offset + 4] != b"List":
        raise ValueError("VST3 preset container has no chunk list")
    (count,) = struct.unpack_from("<i", data, list_offset + 4)
    entries = {}
    for i in range(count):
        pos = list_offset + 8 + 20 * i
        offset, size = struct.unpack_from("<qq", data, pos + 4)
        entries[data[pos:pos + 4].decode("ascii")] = data[offset:offset + size]
    if "Comp" not in entries:
        raise ValueError("the chunk holds no component state")
    return class_id, entries["Comp"]


def find_processor(root):
    procs = [p for p in root.iter("Processor") if p.get("type") == "vst3" and p.get("name") == PLUGIN]
    if len(procs) != 1:
        raise ValueError(f"{len(procs)} VST3 processors named {PLUGIN} in the session")
    return procs[0]


def cmd_session(r, session_file):
    try:
        proc = find_processor(ET.parse(session_file).getroot())
        class_id, comp = component_state(proc)
    except (ValueError, ET.ParseError) as e:
        r.check("ardour_session_state_blob", False, str(e))
        return
    r.check("ardour_session_class_id", proc.get("unique-id") == CLASS_ID_HEX == class_id,
            f"processor {proc.get('unique-id')}, chunk {class_id}")
    ports = sorted(int(p.get("id")) for p in proc.find("vst3").findall("Port"))
    want_ports = sorted(host_param_id(p[0]) for p in PARAMS)
    r.check("ardour_session_param_ids", ports == want_ports,
            f"{len(ports)} <Port> ids, equal to the 31-bit hashes of the 29 text ids"
            if ports == want_ports else f"ids {ports}, expected {want_ports}")
    text = comp.decode("utf-8", errors="replace")
    try:
        state = json.loads(text)
    except json.JSONDecodeError as e:
        r.check("ardour_session_state_blob", False, f"component state is not JSON ({e}): {text[:120]!r}")
        return
    r.check("ardour_session_state_blob", isinstance(state, dict),
            f"component state is the plug-in's JSON, {len(comp)} bytes")
    r.check("ardour_session_state_compact", not re.search(r"\s", text),
            "no blanks or line breaks" if not re.search(r"\s", text) else f"text {text[:120]!r}")
    r.check("ardour_session_state_layout",
            list(state.keys()) == ["version", "params", "fields"] and state["version"] == VERSION
            and state["fields"] == {},
            f"members {list(state.keys())}, version {state.get('version')!r}, fields {state.get('fields')!r}")
    params = state.get("params", {})
    r.check("ardour_session_state_ids", list(params.keys()) == sorted(NAME_OF.keys()),
            f"{len(params)} params in ascending id order")
    wrong = []
    for pid, *_ in PARAMS:
        entry = params.get(pid, {})
        key = "bool" if pid in BOOL_PARAMS else "i32" if pid in INT_PARAMS else "f32"
        want = expected_plain(pid, SAVED)
        got = entry.get(key)
        if key == "bool":
            ok = got is bool(want)
        elif key == "i32":
            ok = isinstance(got, int) and not isinstance(got, bool) and got == want
        else:
            ok = isinstance(got, (int, float)) and close(float(got), float(want), rel=1e-4)
        if not ok or len(entry) != 1:
            wrong.append(f"{pid}={entry} (want {key} {want})")
    r.check("ardour_session_state_values", not wrong,
            "every value as set in the host, by kind (f32, i32, bool)" if not wrong else "; ".join(wrong))
    last = params.get(LAST_EDIT[0], {}).get("f32")
    r.check("ardour_session_state_last_edit", last is not None and close(float(last), LAST_EDIT[1]),
            f"{LAST_EDIT[0]} {last} in the state, set {LAST_EDIT[1]} just before saving")


def cmd_strip(r, session_file):
    tree = ET.parse(session_file)
    proc = find_processor(tree.getroot())
    vst3 = proc.find("vst3")
    for pid in STRIPPED:
        ports = [p for p in vst3.findall("Port") if p.get("id") == str(host_param_id(pid))]
        ctrls = [c for c in proc.findall("Controllable") if c.get("name") == NAME_OF[pid]]
        if not r.check(f"ardour_strip_{pid}", len(ports) == 1 and len(ctrls) == 1,
                       f"removed {len(ports)} <Port> and {len(ctrls)} <Controllable> record(s)"):
            continue
        vst3.remove(ports[0])
        proc.remove(ctrls[0])
    tree.write(session_file, encoding="UTF-8", xml_declaration=True)


def cmd_reloaded(r, created, reloaded):
    c_meters, c_dumps, _, _ = read_results(created)
    meters, dumps, done, errors = read_results(reloaded)
    if not r.check("ardour_reload_run", done and not errors and len(dumps) == 1,
                   "saved session reopened with the plug-in" if done and not errors
                   else f"incomplete run, errors: {errors}"):
        return
    saved = dict(c_dumps[1]["params"])
    back = dict(dumps[0]["params"])
    wrong = [f"{label}: saved {saved.get(label)}, reloaded {back.get(label)}"
             for _, label, *_ in PARAMS if not close(saved.get(label), back.get(label), rel=1e-4)]
    r.check("ardour_reload_param_values", not wrong and len(back) == len(PARAMS),
            "all 29 values came back" if not wrong else "; ".join(wrong))
    for pid in STRIPPED:
        label = NAME_OF[pid]
        r.check(f"ardour_reload_from_blob_{pid}", close(back.get(label), float(FINAL[pid]), rel=1e-4),
                f"{label} {back.get(label)} (set {FINAL[pid]}, default "
                f"{expected_plain(pid, {})}): restored from the plug-in's state alone")
    final, now = c_meters["final"], meters["reload"]
    ok = all(abs(a - b) <= RELOAD_DB_TOLERANCE for a, b in zip(final[:2], now[:2]))
    r.check("ardour_reload_level", ok,
            f"L {now[0]:.2f} dB, R {now[1]:.2f} dB after reload; L {final[0]:.2f} dB, "
            f"R {final[1]:.2f} dB when saved (+-{RELOAD_DB_TOLERANCE})")
    base = meters["input"]
    check_levels(r, meters, "reload_dry", base[0] + FINAL["output_gain"], base[1] + FINAL["output_gain"],
                 DB_TOLERANCE, "restored Output Gain acts on the dry signal")


def main(argv):
    if len(argv) < 2:
        print(__doc__)
        return 2
    cmd, args = argv[1], argv[2:]
    if cmd == "plan":
        sys.stdout.write(plan(args[0]))
        return 0
    r = Report()
    handlers = {"clap-scan": cmd_clap_scan, "vst3-cache": cmd_vst3_cache, "created": cmd_created,
                "session": cmd_session, "strip": cmd_strip, "reloaded": cmd_reloaded}
    if cmd not in handlers:
        print(__doc__)
        return 2
    try:
        handlers[cmd](r, *args)
    except Exception as e:  # a malformed host output is a failed check, not a crash
        r.check(f"{cmd.replace('-', '_')}_evaluation", False, f"{type(e).__name__}: {e}")
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

// Tessellgrove editor page: controls, preset browser and canvases.
// Talks to the plug-in only through the bridge functions on window
// (setParam, beginEdit, endEdit, requestPresets, ...) and listens to the
// bridge's DOM events. Values travel normalised (0..1) in both directions.
'use strict';

// ===========================================================================
// Page state
// ===========================================================================

// The values the page shows, in display units (see the table of controls).
const uiState = {
    input_gain: 0.0,          // dB
    mix: 0.5,                 // normalised
    output_gain: 0.0,         // dB
    stereo_width: 1.0,        // width 0..2
    lock_freq: 440.0,         // Hz
    carrier_mode: 0,          // option index
    carrier_env_amount: 0,    // normalised
    trig_div: 1,              // option index
    trig_amount: 0,           // normalised
    char_mode: 0,             // option index
    lock_motion_enable: false,
    lock_motion_shape: 0,     // option index
    lock_motion_rate: 4,      // option index
    lock_motion_depth: 0.5,   // normalised
    mode_cycle_enable: false,
    mode_cycle_div: 0,        // option index
    // dials of the right panel, normalised
    char_amount: 0.5,
    comb_feedback: 0,
    comb_tuning: 0.5,
    comb_mix: 0,
    // carrier mode bars, normalised, starting at the parameters' defaults
    formant_position: 0.5,
    formant_width: 0.5,
    formant_morph_rate: 0,
    stoch_spread: 0.3,
    stoch_density: 0.5,
    stoch_smoothing: 0.5,
    swarm_count: 1 / 7,
    swarm_spread: 0.2,
    swarm_drift: 0.3
};
window.uiState = uiState;

const INK = '#1a1816';
const PANEL = '#e2d6c2';
const CREAM = '#e8dcc8';

const CARRIER_MODE_IDS = ['formant', 'stoch', 'swarm'];
const MOTION_RATE_SHORT_LABELS = ['4B', '2B', '1B', '1/2', '1/4', '1/8', '1/16', '1/4T', '1/8T'];
// Mode cycle period per division, as a fraction of one beat.
const CYCLE_DIV_BEATS = [1, 0.5, 0.25, 0.125];
const TRANSPORT_REQUEST_MS = 500;
const DIAL_RANGE_PX = 150;       // vertical drag that covers the whole dial range
const AMP_ON_THRESHOLD = 0.01;   // trigger amount above which the AMP row counts as on
const AMP_DEFAULT_AMOUNT = 0.5;  // amount sent when AMP is switched on from (near) zero

// Last tempo received from the plug-in; drives the mode cycling display.
let tempoBpm = 120;

function clamp01(x) {
    return Math.min(1, Math.max(0, x));
}

function percentText(n) {
    return Math.round(n * 100) + '%';
}

function decibelText(db) {
    const rounded = Math.round(db);
    return (rounded >= 0 ? '+' : '') + (rounded === 0 ? 0 : rounded) + 'dB';
}

// The controls are built from uiState on the load event, or earlier when a
// value arrives before it; every published update function builds them first.
let controlsBuilt = false;

function buildControls() {
    if (controlsBuilt) return;
    controlsBuilt = true;
    buildDials();
    buildBars();
    buildToggles();
    buildDropdowns();
    buildCarrierButtons();
    buildCharBoxes();
    buildPresetBrowser();
}

// Publishes a display update on window: it sets the control without sending.
function publish(name, update) {
    window[name] = function (...args) {
        buildControls();
        update(...args);
    };
}

function sendChoice(id, value) {
    window.beginEdit(id);
    window.setParam(id, value);
    window.endEdit(id);
}

// ===========================================================================
// Pointer helpers (mouse, or the first touch point)
// ===========================================================================

function pointerOf(event) {
    if (event.touches && event.touches.length > 0) {
        return { x: event.touches[0].clientX, y: event.touches[0].clientY };
    }
    if (event.changedTouches && event.changedTouches.length > 0) {
        return { x: event.changedTouches[0].clientX, y: event.changedTouches[0].clientY };
    }
    return { x: event.clientX, y: event.clientY };
}

// Runs one press-move-release gesture: onMove for every move until release.
function trackGesture(startEvent, onMove, onEnd) {
    const touch = startEvent.type === 'touchstart';
    const moveType = touch ? 'touchmove' : 'mousemove';
    const endTypes = touch ? ['touchend', 'touchcancel'] : ['mouseup'];
    function move(event) {
        event.preventDefault();
        onMove(pointerOf(event));
    }
    function end() {
        document.removeEventListener(moveType, move);
        endTypes.forEach((type) => document.removeEventListener(type, end));
        onEnd();
    }
    document.addEventListener(moveType, move, { passive: false });
    endTypes.forEach((type) => document.addEventListener(type, end));
}

function onPress(element, handler) {
    element.addEventListener('mousedown', (event) => {
        if (event.button !== 0) return;
        event.preventDefault();
        handler(event);
    });
    element.addEventListener('touchstart', (event) => {
        event.preventDefault();
        handler(event);
    }, { passive: false });
}

// ===========================================================================
// Dials: 150 px of vertical travel covers 0..1, pointer from -135 to +135 deg
// ===========================================================================

const dials = {};

function makeDial(id, format, fromNorm, toNorm) {
    const unit = document.getElementById('dial-' + id);
    const knob = unit.querySelector('.dial');
    const pointer = unit.querySelector('.dial-pointer');
    const valueText = unit.querySelector('.dial-value');
    const dial = { id: id, n: 0 };

    // Shows normalised value n and stores it in uiState (in display units).
    dial.show = function (n) {
        dial.n = clamp01(n);
        uiState[id] = fromNorm(dial.n);
        pointer.style.transform = 'rotate(' + (-135 + 270 * dial.n) + 'deg)';
        valueText.textContent = format(dial.n);
    };

    onPress(knob, (event) => {
        const startY = pointerOf(event).y;
        const startN = dial.n;
        window.beginEdit(id);
        trackGesture(event, (p) => {
            dial.show(clamp01(startN + (startY - p.y) / DIAL_RANGE_PX));
            window.setParam(id, dial.n);
        }, () => window.endEdit(id));
    });

    dial.toNorm = toNorm;
    dials[id] = dial;
    return dial;
}

function identity(x) {
    return x;
}

function tuningText(n) {
    const hz = Math.pow(n, 4) * 4980 + 20;
    return hz < 1000 ? Math.round(hz) + ' Hz' : (hz / 1000).toFixed(1) + ' kHz';
}

function buildDials() {
    makeDial('input_gain', (n) => decibelText(n * 24 - 12), (n) => n * 24 - 12, (db) => (db + 12) / 24);
    makeDial('mix', percentText, identity, identity);
    makeDial('output_gain', (n) => decibelText(n * 36 - 24), (n) => n * 36 - 24, (db) => (db + 24) / 36);
    makeDial('stereo_width', (n) => Math.round(n * 200) + '%', (n) => n * 2, (w) => w / 2);
    makeDial('char_amount', percentText, identity, identity);
    makeDial('comb_feedback', (n) => (n * 0.95).toFixed(2), identity, identity);
    makeDial('comb_tuning', tuningText, identity, identity);
    makeDial('comb_mix', percentText, identity, identity);
    Object.values(dials).forEach((dial) => dial.show(dial.toNorm(uiState[dial.id])));
}

publish('updateInputGainUI', (db) => dials.input_gain.show((db + 12) / 24));
publish('updateMixUI', (n) => dials.mix.show(n));
publish('updateOutputUI', (db) => dials.output_gain.show((db + 24) / 36));
publish('updateStereoWidthUI', (width) => dials.stereo_width.show(width / 2));
['char_amount', 'comb_feedback', 'comb_tuning', 'comb_mix'].forEach((id) => {
    publish('_update_' + id, (n) => dials[id].show(n));
});

// ===========================================================================
// Bars: the value is the pointer's horizontal position in the bar
// ===========================================================================

const bars = {};

// onChange(n) runs after a gesture moved the bar, before the value is sent.
function makeBar(id, format, onChange) {
    const bar = document.getElementById('bar-' + id);
    const thumb = bar.querySelector('.bar-thumb');
    const fill = bar.querySelector('.bar-fill');
    const valueText = document.getElementById('value-' + id);
    const control = { id: id, n: 0 };

    control.show = function (n) {
        control.n = clamp01(n);
        thumb.style.left = (control.n * 100) + '%';
        if (fill) fill.style.width = (control.n * 100) + '%';
        if (valueText && format) valueText.textContent = format(control.n);
    };

    // Position inside the bar's border: the left inner edge is 0, the right 1.
    function valueAt(x) {
        const rect = bar.getBoundingClientRect();
        const left = rect.left + bar.clientLeft;
        return clamp01((x - left) / bar.clientWidth);
    }

    function apply(x) {
        const n = valueAt(x);
        control.show(n);
        if (onChange) onChange(n);
        window.setParam(id, n);
    }

    onPress(bar, (event) => {
        window.beginEdit(id);
        apply(pointerOf(event).x);
        trackGesture(event, (p) => apply(p.x), () => window.endEdit(id));
    });

    bars[id] = control;
    return control;
}

function twoDecimals(n) {
    return n.toFixed(2);
}

const BAR_FORMATS = {
    carrier_env_amount: percentText,
    formant_position: twoDecimals,
    formant_width: twoDecimals,
    formant_morph_rate: (n) => (n * n * 10).toFixed(1) + ' Hz',
    stoch_spread: twoDecimals,
    stoch_density: twoDecimals,
    stoch_smoothing: twoDecimals,
    swarm_count: (n) => String(Math.round(2 + n * 14)),
    swarm_spread: twoDecimals,
    swarm_drift: twoDecimals
};

function lockFreqHz(n) {
    return Math.pow(n, 4) * 4960 + 40;
}

function lockFreqNorm(hz) {
    return Math.pow(clamp01((hz - 40) / 4960), 0.25);
}

function buildBars() {
    makeBar('lock_freq', null, (n) => { uiState.lock_freq = lockFreqHz(n); });
    makeBar('lock_motion_depth', percentText, (n) => { uiState.lock_motion_depth = n; });
    makeBar('trig_amount', percentText, (n) => {
        uiState.trig_amount = n;
        setAmpOn(n > AMP_ON_THRESHOLD);
    });
    Object.keys(BAR_FORMATS).forEach((id) => {
        makeBar(id, BAR_FORMATS[id], (n) => { uiState[id] = n; });
        bars[id].show(uiState[id]);
    });
    bars.lock_freq.show(lockFreqNorm(uiState.lock_freq));
    bars.lock_motion_depth.show(uiState.lock_motion_depth);
    bars.trig_amount.show(uiState.trig_amount);
}

publish('_updateLockFreq', (n) => {
    bars.lock_freq.show(n);
    uiState.lock_freq = lockFreqHz(bars.lock_freq.n);
});
publish('_updateMotionDepthUI', (n) => {
    bars.lock_motion_depth.show(n);
    uiState.lock_motion_depth = bars.lock_motion_depth.n;
});
publish('_updateTrigAmount', (n) => {
    bars.trig_amount.show(n);
    uiState.trig_amount = bars.trig_amount.n;
    setAmpOn(uiState.trig_amount > AMP_ON_THRESHOLD);
});
Object.keys(BAR_FORMATS).forEach((id) => {
    publish('_update_' + id, (n) => {
        bars[id].show(n);
        uiState[id] = bars[id].n;
    });
});

// ===========================================================================
// Toggles and rows
// ===========================================================================

function setToggle(toggleId, rowId, on) {
    const toggle = document.getElementById(toggleId);
    toggle.classList.toggle('on', on);
    toggle.querySelector('.toggle-state').textContent = on ? 'ON' : 'OFF';
    if (rowId) document.getElementById(rowId).classList.toggle('off', !on);
}

function setMotionOn(on) {
    uiState.lock_motion_enable = on;
    setToggle('toggle-freq', 'row-freq', on);
}

// AMP has no switch of its own: it is on while the trigger amount is above 0.01.
let ampOn = false;
function setAmpOn(on) {
    ampOn = on;
    setToggle('toggle-amp', 'row-amp', on);
}

publish('_updateMotionEnable', (on) => setMotionOn(Boolean(on)));

function buildToggles() {
    document.getElementById('toggle-freq').addEventListener('click', () => {
        const on = !uiState.lock_motion_enable;
        setMotionOn(on);
        sendChoice('lock_motion_enable', on ? 1.0 : 0.0);
    });
    document.getElementById('toggle-amp').addEventListener('click', () => {
        let amount = 0;
        if (!ampOn) {
            amount = uiState.trig_amount > AMP_ON_THRESHOLD ? uiState.trig_amount : AMP_DEFAULT_AMOUNT;
        }
        uiState.trig_amount = amount;
        bars.trig_amount.show(amount);
        setAmpOn(!ampOn);
        sendChoice('trig_amount', amount);
    });
    document.getElementById('toggle-cycle').addEventListener('click', () => {
        const on = !uiState.mode_cycle_enable;
        setCycleOn(on);
        sendChoice('mode_cycle_enable', on ? 1.0 : 0.0);
    });
    setMotionOn(uiState.lock_motion_enable);
    setAmpOn(uiState.trig_amount > AMP_ON_THRESHOLD);
    setToggle('toggle-cycle', null, uiState.mode_cycle_enable);
}

// ===========================================================================
// Drop-downs: the list opens above the field; a click elsewhere closes all
// ===========================================================================

const dropdowns = {};

function closeAllDropdowns(except) {
    document.querySelectorAll('.dropdown.open').forEach((dd) => {
        if (dd !== except) dd.classList.remove('open');
    });
}

// Exclusive lists (FREQ and AMP rows) close the other lists when opened and
// mark the chosen option; the CYCLE list does neither.
function makeDropdown(id, onChoose) {
    const root = document.getElementById('dd-' + id);
    const field = root.querySelector('.dropdown-field');
    const options = Array.from(root.querySelectorAll('.dropdown-option'));
    const exclusive = root.dataset.exclusive === 'true';
    const dropdown = { id: id, count: options.length };

    dropdown.show = function (index, label) {
        field.textContent = label !== undefined ? label : options[index].textContent;
        if (exclusive) {
            options.forEach((option, i) => option.classList.toggle('selected', i === index));
        }
    };

    field.addEventListener('click', () => {
        if (exclusive) closeAllDropdowns(root);
        root.classList.toggle('open');
    });
    options.forEach((option, index) => {
        option.addEventListener('click', (event) => {
            event.stopPropagation();
            dropdown.show(index);
            root.classList.remove('open');
            onChoose(index);
            sendChoice(id, index / (options.length - 1));
        });
    });

    dropdowns[id] = dropdown;
    return dropdown;
}

function optionIndex(n, count) {
    return Math.min(count - 1, Math.max(0, Math.round(n * (count - 1))));
}

function buildDropdowns() {
    makeDropdown('lock_motion_rate', (i) => { uiState.lock_motion_rate = i; });
    makeDropdown('lock_motion_shape', (i) => { uiState.lock_motion_shape = i; });
    makeDropdown('trig_div', (i) => { uiState.trig_div = i; });
    makeDropdown('mode_cycle_div', (i) => { uiState.mode_cycle_div = i; });
    dropdowns.lock_motion_rate.show(uiState.lock_motion_rate);
    dropdowns.lock_motion_shape.show(uiState.lock_motion_shape);
    dropdowns.trig_div.show(uiState.trig_div);
    dropdowns.mode_cycle_div.show(uiState.mode_cycle_div);
    document.addEventListener('click', (event) => {
        if (!event.target.closest('.dropdown')) closeAllDropdowns(null);
    });
}

publish('_updateMotionRate', (index) => {
    uiState.lock_motion_rate = index;
    dropdowns.lock_motion_rate.show(index, MOTION_RATE_SHORT_LABELS[index]);
});
publish('_updateMotionShape', (index) => {
    uiState.lock_motion_shape = index;
    dropdowns.lock_motion_shape.show(index);
});
publish('_updateTrigDiv', (index) => {
    uiState.trig_div = index;
    dropdowns.trig_div.show(index);
});
publish('_updateModeCycleDiv', (index) => {
    uiState.mode_cycle_div = index;
    dropdowns.mode_cycle_div.show(index);
});

// ===========================================================================
// Carrier modes and the mode cycling display
// ===========================================================================

function showCarrierMode(index) {
    uiState.carrier_mode = index;
    CARRIER_MODE_IDS.forEach((mode, i) => {
        document.getElementById('mode-' + mode).classList.toggle('active', i === index);
        document.getElementById('bars-' + mode).classList.toggle('hidden', i !== index);
    });
}

publish('_updateCarrierMode', (index) => showCarrierMode(index));

// While CYCLE is on the page steps the shown mode itself, every period
// 60000/tempo ms times the division's share of a beat; the parameter is
// never touched. cycleStart is the performance.now() of the switch-on.
let cycleStart = 0;
let cycleIndex = 0;

function setCycleOn(on) {
    const was = uiState.mode_cycle_enable;
    uiState.mode_cycle_enable = on;
    setToggle('toggle-cycle', null, on);
    if (on && !was) {
        cycleStart = performance.now();
        cycleIndex = 0;
    } else if (!on && was) {
        showCarrierMode(0);
    }
}

publish('_updateModeCycleEnable', (on) => setCycleOn(Boolean(on)));

function stepModeCycle(now) {
    if (!uiState.mode_cycle_enable) return;
    const period = (60000 / tempoBpm) * CYCLE_DIV_BEATS[uiState.mode_cycle_div];
    const index = Math.floor(Math.max(0, now - cycleStart) / period) % 3;
    if (index !== cycleIndex) {
        cycleIndex = index;
        showCarrierMode(index);
    }
}

function buildCarrierButtons() {
    CARRIER_MODE_IDS.forEach((mode, index) => {
        document.getElementById('mode-' + mode).addEventListener('click', () => {
            showCarrierMode(index);
            sendChoice('carrier_mode', index / 2);
        });
    });
    showCarrierMode(uiState.carrier_mode);
}

// ===========================================================================
// Character mode boxes
// ===========================================================================

const CHAR_BOX_IDS = ['char-clean', 'char-grit', 'char-warm', 'char-fold'];

function showCharMode(index) {
    uiState.char_mode = index;
    CHAR_BOX_IDS.forEach((boxId, i) => {
        const box = document.getElementById(boxId);
        box.classList.toggle('active', i === index);
        box.querySelector('.char-state').textContent = i === index ? 'on' : 'off';
    });
}

publish('_updateCharMode', (index) => showCharMode(index));

function buildCharBoxes() {
    CHAR_BOX_IDS.forEach((boxId, index) => {
        document.getElementById(boxId).addEventListener('click', () => {
            showCharMode(index);
            sendChoice('char_mode', index / 3);
        });
    });
    showCharMode(uiState.char_mode);
}

// ===========================================================================
// Values from the plug-in: reverse the control mappings, send nothing back
// ===========================================================================

const PARAM_APPLIERS = {
    input_gain: (n) => window.updateInputGainUI(n * 24 - 12),
    mix: (n) => window.updateMixUI(n),
    output_gain: (n) => window.updateOutputUI(n * 36 - 24),
    stereo_width: (n) => window.updateStereoWidthUI(n * 2),
    lock_freq: (n) => window._updateLockFreq(n),
    lock_motion_enable: (n) => window._updateMotionEnable(n > 0.5),
    lock_motion_rate: (n) => window._updateMotionRate(optionIndex(n, 9)),
    lock_motion_depth: (n) => window._updateMotionDepthUI(n),
    lock_motion_shape: (n) => window._updateMotionShape(optionIndex(n, 5)),
    carrier_mode: (n) => window._updateCarrierMode(optionIndex(n, 3)),
    mode_cycle_enable: (n) => window._updateModeCycleEnable(n > 0.5),
    mode_cycle_div: (n) => window._updateModeCycleDiv(optionIndex(n, 4)),
    trig_div: (n) => window._updateTrigDiv(optionIndex(n, 4)),
    trig_amount: (n) => window._updateTrigAmount(n),
    char_mode: (n) => window._updateCharMode(optionIndex(n, 4))
};
['carrier_env_amount', 'formant_position', 'formant_width', 'formant_morph_rate',
    'stoch_spread', 'stoch_density', 'stoch_smoothing', 'swarm_count', 'swarm_spread',
    'swarm_drift', 'char_amount', 'comb_feedback', 'comb_tuning', 'comb_mix'].forEach((id) => {
    PARAM_APPLIERS[id] = (n) => window['_update_' + id](n);
});

// Values for ids the page doesn't show, and values that aren't numbers, are ignored.
function applyParam(name, value) {
    const apply = Object.prototype.hasOwnProperty.call(PARAM_APPLIERS, name) ? PARAM_APPLIERS[name] : null;
    if (apply && typeof value === 'number' && Number.isFinite(value)) {
        apply(clamp01(value));
    }
}

window.addEventListener('paramchange', (event) => {
    applyParam(event.detail.name, event.detail.value);
});

window.addEventListener('paramsloaded', (event) => {
    if (!Array.isArray(event.detail)) return;
    event.detail.forEach((entry) => {
        if (entry) applyParam(entry.name, entry.value);
    });
});

// ===========================================================================
// Transport: tempo display, requested every 500 ms while the page is visible
// ===========================================================================

window.addEventListener('transport', (event) => {
    const bpm = Number(event.detail.bpm);
    if (!Number.isFinite(bpm)) return;
    document.getElementById('tempo-display').textContent = bpm.toFixed(1) + ' BPM';
    // A zero or negative tempo would make the cycling period endless or negative.
    if (bpm > 0) tempoBpm = bpm;
});

let transportTimer = null;

function startTransportRequests() {
    if (transportTimer === null) {
        transportTimer = setInterval(() => window.requestTransport(), TRANSPORT_REQUEST_MS);
    }
}

function stopTransportRequests() {
    if (transportTimer !== null) {
        clearInterval(transportTimer);
        transportTimer = null;
    }
}

document.addEventListener('visibilitychange', () => {
    if (document.hidden) stopTransportRequests(); else startTransportRequests();
});

// ===========================================================================
// Preset browser and save dialog
// ===========================================================================

let presetList = [];
let currentPresetName = 'Init';
const collapsedGroups = { FACTORY: false, USER: false };

function presetDropdown() {
    return document.getElementById('preset-dropdown');
}

function setCurrentPresetName(name) {
    currentPresetName = name ? name : 'Init';
    document.getElementById('preset-name').textContent = currentPresetName;
}

function renderPresetGroup(container, key, title, presets, emptyText) {
    const group = document.createElement('div');
    group.className = 'preset-group' + (collapsedGroups[key] ? ' collapsed' : '');
    group.dataset.group = key;

    const header = document.createElement('div');
    header.className = 'preset-group-header';
    const arrow = document.createElement('span');
    arrow.className = 'preset-group-arrow';
    arrow.textContent = '\u25BC';
    const label = document.createElement('span');
    label.className = 'preset-group-title';
    label.textContent = title;
    header.append(arrow, label);
    header.addEventListener('click', (event) => {
        event.stopPropagation();
        collapsedGroups[key] = !collapsedGroups[key];
        group.classList.toggle('collapsed', collapsedGroups[key]);
    });

    const items = document.createElement('div');
    items.className = 'preset-group-items';
    if (presets.length === 0 && emptyText) {
        const empty = document.createElement('div');
        empty.className = 'preset-empty';
        empty.textContent = emptyText;
        items.append(empty);
    }
    presets.forEach((preset) => {
        const item = document.createElement('div');
        item.className = 'preset-item' + (preset.name === currentPresetName ? ' current' : '');
        const name = document.createElement('span');
        name.className = 'preset-item-name';
        name.textContent = preset.name;
        item.append(name);
        if (!preset.is_factory) {
            const remove = document.createElement('button');
            remove.className = 'preset-delete';
            remove.type = 'button';
            remove.textContent = '\u00D7';
            remove.title = 'Delete';
            remove.addEventListener('click', (event) => {
                event.stopPropagation();
                window.deletePreset(preset.name);
            });
            item.append(remove);
        }
        item.addEventListener('click', () => {
            window.loadPreset(preset.name, Boolean(preset.is_factory));
            presetDropdown().classList.remove('open');
        });
        items.append(item);
    });

    group.append(header, items);
    container.append(group);
}

function renderPresetList() {
    const container = document.getElementById('preset-list');
    container.textContent = '';
    const valid = presetList.filter((p) => p && typeof p.name === 'string');
    const factory = valid.filter((p) => p.is_factory);
    const user = valid.filter((p) => !p.is_factory);
    if (factory.length > 0) {
        renderPresetGroup(container, 'FACTORY', 'FACTORY', factory, null);
    }
    renderPresetGroup(container, 'USER', user.length > 0 ? 'USER (' + user.length + ')' : 'USER',
        user, 'No user presets yet');
}

const SAVE_OUTLINE_ERROR = '2px solid #a04040';
const SAVE_OUTLINE_MS = 800;
let saveOutlineTimer = null;

function openSaveDialog() {
    presetDropdown().classList.remove('open');
    const input = document.getElementById('save-name');
    input.value = currentPresetName === 'Init' ? '' : currentPresetName;
    document.getElementById('save-dialog').classList.add('open');
    input.focus();
    input.select();
}

function closeSaveDialog() {
    document.getElementById('save-dialog').classList.remove('open');
}

function confirmSave() {
    const input = document.getElementById('save-name');
    const name = input.value.trim();
    if (name === '') {
        input.style.outline = SAVE_OUTLINE_ERROR;
        clearTimeout(saveOutlineTimer);
        saveOutlineTimer = setTimeout(() => { input.style.outline = ''; }, SAVE_OUTLINE_MS);
        return;
    }
    window.savePreset(name);
    closeSaveDialog();
}

function buildPresetBrowser() {
    const selector = document.getElementById('preset-selector');
    const dropdown = presetDropdown();
    selector.addEventListener('click', () => dropdown.classList.toggle('open'));
    document.addEventListener('click', (event) => {
        if (!selector.contains(event.target) && !dropdown.contains(event.target)) {
            dropdown.classList.remove('open');
        }
    });
    document.getElementById('preset-save-as').addEventListener('click', openSaveDialog);
    document.getElementById('save-cancel').addEventListener('click', closeSaveDialog);
    document.getElementById('save-confirm').addEventListener('click', confirmSave);
    document.getElementById('save-name').addEventListener('keydown', (event) => {
        if (event.key === 'Enter') {
            event.preventDefault();
            confirmSave();
        } else if (event.key === 'Escape') {
            event.preventDefault();
            closeSaveDialog();
        }
    });
    renderPresetList();
}

window.addEventListener('presetsloaded', (event) => {
    presetList = Array.isArray(event.detail) ? event.detail : [];
    renderPresetList();
});

window.addEventListener('presetloaded', (event) => {
    setCurrentPresetName(event.detail.name);
    renderPresetList();
});

window.addEventListener('presetsaved', (event) => {
    setCurrentPresetName(event.detail.name);
});

window.addEventListener('presetdeleted', (event) => {
    if (event.detail.name === currentPresetName) {
        setCurrentPresetName('Init');
    }
    window.requestPresets();
});

window.addEventListener('preseterror', (event) => {
    console.error('Preset error:', event.detail.message);
});

// ===========================================================================
// Drawing helpers
// ===========================================================================

function fract(x) {
    return x - Math.floor(x);
}

// Deterministic noise of position and time, 0..1.
function seededRandom(s) {
    return fract(Math.sin(s * 12.9898 + 78.233) * 43758.5453);
}

// The clouds' variant, without the offset.
function seededRand(s) {
    return fract(Math.sin(s * 12.9898) * 43758.5453);
}

function easeInOutCubic(t) {
    return t < 0.5 ? 4 * t * t * t : 1 - Math.pow(-2 * t + 2, 3) / 2;
}

function easeInOutSine(t) {
    return -(Math.cos(Math.PI * t) - 1) / 2;
}

function fillPaperBg(ctx, w, h) {
    ctx.fillStyle = PANEL;
    ctx.fillRect(0, 0, w, h);
    const gradient = ctx.createLinearGradient(0, 0, w, h);
    gradient.addColorStop(0, 'rgba(255,248,235,0.03)');
    gradient.addColorStop(0.5, 'rgba(0,0,0,0)');
    gradient.addColorStop(1, 'rgba(180,160,130,0.03)');
    ctx.fillStyle = gradient;
    ctx.fillRect(0, 0, w, h);
}

function makeSurface(w, h) {
    const canvas = document.createElement('canvas');
    canvas.width = w;
    canvas.height = h;
    return canvas;
}

// ===========================================================================
// Header clouds, drawn once at start-up
// ===========================================================================

// Blobs as [x, y, radius] in header pixels, four formations.
const CLOUD_FORMATIONS = [
    [[140, 48, 33], [170, 35, 39], [205, 28, 36], [240, 35, 34], [275, 45, 29], [185, 55, 26],
        [220, 52, 29], [155, 60, 24], [255, 58, 21]],
    [[455, 108, 35], [500, 98, 42], [555, 92, 32], [595, 105, 48], [660, 98, 28], [480, 80, 28],
        [525, 58, 36], [570, 78, 25], [620, 65, 32], [548, 42, 26], [505, 52, 20], [605, 48, 22],
        [645, 82, 24], [465, 92, 25], [575, 35, 18], [535, 72, 22], [630, 55, 19]],
    [[830, 55, 29], [860, 42, 34], [895, 35, 31], [930, 42, 29], [960, 52, 24], [875, 60, 21],
        [910, 58, 24]],
    [[1010, 38, 13], [1030, 34, 16], [1050, 36, 13]]
];
const CLOUD_BLOBS = CLOUD_FORMATIONS.flat();

function cloudDensity(x, y) {
    let density = 0;
    for (let i = 0; i < CLOUD_BLOBS.length; i++) {
        const blob = CLOUD_BLOBS[i];
        const dx = x - blob[0];
        const dy = y - blob[1];
        const r = blob[2];
        const d = Math.sqrt(dx * dx + dy * dy);
        if (d < 2 * r) density += Math.max(0, 1 - d / r);
    }
    return Math.min(1, density);
}

function drawClouds() {
    const canvas = document.getElementById('cloud-canvas');
    const header = canvas.parentElement;
    const w = header.clientWidth || 100;
    const h = header.clientHeight || 100;
    canvas.width = w;
    canvas.height = h;
    const ctx = canvas.getContext('2d');
    ctx.fillStyle = CREAM;
    ctx.fillRect(0, 0, w, h);

    const bg = [232, 220, 200];
    const image = ctx.getImageData(0, 0, w, h);
    const data = image.data;
    for (let y = 0; y < h; y++) {
        for (let x = 0; x < w; x++) {
            const density = cloudDensity(x, y);
            if (density <= 0.3) continue;
            const above = cloudDensity(x, y - 10);
            const left = cloudDensity(x - 8, y);
            const shadow = Math.min(1, 2 * Math.max(0, above - density) + 1.5 * Math.max(0, left - density));
            const brightness = 250 - 130 * shadow;
            const edge = Math.min(1, (density - 0.3) * 3);
            const o = (y * w + x) * 4;
            for (let c = 0; c < 3; c++) {
                data[o + c] = Math.round(bg[c] + (brightness - bg[c]) * edge);
            }
        }
    }
    ctx.putImageData(image, 0, 0);

    // Hatching on the shaded undersides.
    ctx.beginPath();
    for (let y = 0; y < h; y += 1.2) {
        for (let x = 0; x < w; x++) {
            const density = cloudDensity(x, y);
            if (density > 0.5 && cloudDensity(x, y - 10) - density > 0.1 && seededRand(0.3 * x + 5 * y) > 0.5) {
                ctx.moveTo(x, y);
                ctx.lineTo(x + 1.5, y);
            }
        }
    }
    ctx.strokeStyle = 'rgba(80,70,60,0.3)';
    ctx.lineWidth = 0.4;
    ctx.stroke();

    // Cross-hatching in the deepest shade.
    ctx.beginPath();
    for (let y = 0; y < h; y += 2) {
        for (let x = 0; x < w; x += 2) {
            const density = cloudDensity(x, y);
            if (density > 0.6 && cloudDensity(x, y - 12) - density > 0.2 && seededRand(3 * x + 7 * y) > 0.6) {
                ctx.moveTo(x, y);
                ctx.lineTo(x + 1.5, y + 1.5);
            }
        }
    }
    ctx.strokeStyle = 'rgba(60,55,50,0.25)';
    ctx.lineWidth = 0.3;
    ctx.stroke();

    // Stipple.
    ctx.fillStyle = '#5a5548';
    for (let i = 0; i < 800; i++) {
        const x = seededRand(3 * i) * w;
        const y = seededRand(3 * i + 1) * h;
        const density = cloudDensity(x, y);
        if (density > 0.75 && cloudDensity(x, y - 12) - density > 0.2 && seededRand(3 * i + 2) > 0.7) {
            ctx.fillRect(x, y, 0.5, 0.5);
        }
    }
}

// ===========================================================================
// LOCK POINT sweep
// ===========================================================================

const SWEEP_BAND_CELLS = [6, 5, 4, 3, 2];
const SWEEP_CYCLE_MS = 12000;
// [start, end, strength] of the hesitations of the sweep line
const SWEEP_ZONES = [[0.35, 0.42, 0.08], [0.50, 0.57, 0.12], [0.72, 0.78, 0.06]];

function drawSweep(ctx, w, h, t) {
    fillPaperBg(ctx, w, h);
    ctx.fillStyle = INK;

    const g = Math.floor(t / 80);
    const tearOn = seededRandom(7 * g) > 0.7;
    const tearY = Math.floor(seededRandom(11 * g) * h);
    const tearShift = Math.floor((seededRandom(17 * g) - 0.5) * 40);

    for (let band = 0; band < SWEEP_BAND_CELLS.length; band++) {
        const cell = SWEEP_BAND_CELLS[band];
        const x0 = band * 0.2 * w;
        const x1 = (band + 1) * 0.2 * w;
        for (let col = 0; x0 + col * cell < x1; col++) {
            const x = x0 + col * cell;
            for (let row = 0; row * cell < h; row++) {
                if ((col + row) % 2 !== 0) continue;
                if (seededRandom(col * 1000 + row) > x / w + 0.3) continue;
                const y = row * cell;
                const shift = tearOn && y >= tearY && y < tearY + 8 ? tearShift : 0;
                ctx.fillRect(x + shift, y, cell, cell);
            }
        }
    }

    const c = (t % SWEEP_CYCLE_MS) / SWEEP_CYCLE_MS;
    let p = easeInOutCubic(c);
    for (const [start, end, strength] of SWEEP_ZONES) {
        if (c >= start && c < end) {
            const l = (c - start) / (end - start);
            p -= Math.sin(4 * Math.PI * l) * strength + (seededRandom(Math.floor(t / 50)) - 0.5) * 0.02;
        }
    }
    p = clamp01(p);
    ctx.globalAlpha = 0.8;
    ctx.fillRect(p * w - 1, 0, 3, h);
    ctx.globalAlpha = 1;
}

// ===========================================================================
// CLEAN: an organic blob that breaks into slices
// ===========================================================================

const CLEAN_POINTS = 8;
const CLEAN_MORPH_MS = 4000;
const CLEAN_SLICES = 20;
const CLEAN_CYCLE_MS = 6000;
const CLEAN_CALM_MS = 4500;
const CLEAN_FADE_MS = 800;
const CLEAN_LAYERS = [[0.5, 0.8], [0.75, 0.55], [1, 0.3]];   // [scale, opacity]

let cleanState = null;

function drawClean(ctx, w, h, t) {
    if (!cleanState) {
        cleanState = {
            radii: Array.from({ length: CLEAN_POINTS }, (_, i) => 25 + 35 * seededRandom(111 * i)),
            targets: Array.from({ length: CLEAN_POINTS }, (_, i) => 25 + 35 * seededRandom(222 * i)),
            morphStart: t,
            lastFrame: -1,
            slices: Array.from({ length: CLEAN_SLICES }, () => ({ active: false, offset: 0, dir: 1, speed: 1, start: 0 })),
            surface: null
        };
    }
    const s = cleanState;
    if (t < s.morphStart) s.morphStart = t;
    if (t - s.morphStart >= CLEAN_MORPH_MS) {
        s.radii = s.targets;
        s.targets = s.radii.map((_, i) => 25 + 35 * seededRandom(i + t * 0.001));
        s.morphStart = t;
    }
    const blend = easeInOutCubic((t - s.morphStart) / CLEAN_MORPH_MS);
    const radii = s.radii.map((r, i) => r + (s.targets[i] - r) * blend + 3 * Math.sin(t * 0.002 + i));

    if (!s.surface || s.surface.width !== w || s.surface.height !== h) s.surface = makeSurface(w, h);
    const off = s.surface.getContext('2d');
    off.clearRect(0, 0, w, h);
    off.fillStyle = INK;
    const cx = w / 2;
    const cy = h / 2;
    const step = (2 * Math.PI) / CLEAN_POINTS;
    for (const [scale, opacity] of CLEAN_LAYERS) {
        off.globalAlpha = opacity;
        off.beginPath();
        off.moveTo(cx + radii[0] * scale, cy);
        for (let i = 0; i < CLEAN_POINTS; i++) {
            const j = (i + 1) % CLEAN_POINTS;
            const mid = (i + 0.5) * step;
            const rc = 1.1 * ((radii[i] + radii[j]) / 2) * scale;
            const a = (i + 1) * step;
            off.quadraticCurveTo(cx + Math.cos(mid) * rc, cy + Math.sin(mid) * rc,
                cx + Math.cos(a) * radii[j] * scale, cy + Math.sin(a) * radii[j] * scale);
        }
        off.closePath();
        off.fill();
    }
    off.globalAlpha = 1;

    // Slices break away only in the last 1500 ms of each 6000 ms cycle.
    const f = Math.floor(t / 80);
    if (t % CLEAN_CYCLE_MS >= CLEAN_CALM_MS && f !== s.lastFrame) {
        s.slices.forEach((slice, i) => {
            if (!slice.active && seededRandom(7 * f + 13 * i) > 0.85) {
                slice.active = true;
                slice.offset = 0;
                slice.dir = seededRandom(t + i) < 0.5 ? -1 : 1;
                slice.speed = 0.8 + 1.5 * Math.random();
                slice.start = t;
            }
        });
    }
    s.lastFrame = f;

    fillPaperBg(ctx, w, h);
    const sliceH = h / CLEAN_SLICES;
    s.slices.forEach((slice, i) => {
        let alpha = 1;
        if (slice.active) {
            slice.offset += slice.dir * 1.5 * slice.speed;
            alpha = 1 - (t - slice.start) / CLEAN_FADE_MS;
            if (alpha <= 0 || Math.abs(slice.offset) > 1.2 * w || t < slice.start) {
                slice.active = false;
                slice.offset = 0;
                alpha = 1;
            }
        }
        const y = i * sliceH;
        ctx.globalAlpha = clamp01(alpha);
        ctx.drawImage(s.surface, 0, y, w, sliceH, slice.offset, y, w, sliceH);
    });
    ctx.globalAlpha = 1;
}

// ===========================================================================
// GRIT: drifting particles behind rain-streaked glass
// ===========================================================================

const GRIT_PARTICLES = 20;
const GRIT_STREAKS = 12;

let gritState = null;

function drawGrit(ctx, w, h, t) {
    if (!gritState) {
        gritState = {
            particles: Array.from({ length: GRIT_PARTICLES }, (_, i) => ({
                x: seededRandom(13 * i) * w,
                y: seededRandom(17 * i) * h,
                vx: (seededRandom(19 * i) - 0.5) * 0.5,
                vy: (seededRandom(23 * i) - 0.5) * 0.5,
                length: 15 + Math.floor(10 * seededRandom(29 * i)),
                phase: seededRandom(31 * i) * 100,
                trail: [],
                opacity: 0.5
            })),
            flickerFrame: -1,
            streaks: Array.from({ length: GRIT_STREAKS }, (_, i) => ({
                x: seededRandom(37 * i + 1) * w,
                width: 2 + 4 * seededRandom(41 * i + 2),
                sway: 0.5 + seededRandom(43 * i + 3)
            })),
            surface: null
        };
    }
    const s = gritState;
    const frame = Math.floor(t / 16);
    const newFlicker = frame !== s.flickerFrame;
    s.flickerFrame = frame;

    s.particles.forEach((p) => {
        const angle = Math.sin(0.02 * p.x + 0.0005 * t) * Math.cos(0.02 * p.y) * Math.PI;
        p.vx = (p.vx + Math.cos(angle) * 0.02) * 0.98;
        p.vy = (p.vy + Math.sin(angle) * 0.02) * 0.98;
        p.x += p.vx;
        p.y += p.vy;
        if (p.x < 0) p.x += w; else if (p.x >= w) p.x -= w;
        if (p.y < 0) p.y += h; else if (p.y >= h) p.y -= h;
        p.trail.push({ x: p.x, y: p.y });
        while (p.trail.length > p.length) p.trail.shift();
        if (newFlicker) {
            const roll = Math.random();
            if (roll < 0.08) {
                p.opacity = 0.02 + 0.05 * Math.random();
            } else if (roll < 0.2) {
                p.opacity = 0.85 + 0.15 * Math.random();
            } else {
                p.opacity = 0.15 + 0.55 * seededRandom(frame + p.phase) + 0.15 * Math.random();
            }
        }
    });

    if (!s.surface || s.surface.width !== w || s.surface.height !== h) s.surface = makeSurface(w, h);
    const off = s.surface.getContext('2d');
    off.globalAlpha = 1;
    off.fillStyle = PANEL;
    off.fillRect(0, 0, w, h);
    off.strokeStyle = INK;
    off.fillStyle = INK;
    off.lineWidth = 1.5;
    s.particles.forEach((p) => {
        for (let i = 1; i < p.trail.length; i++) {
            const a = p.trail[i - 1];
            const b = p.trail[i];
            if (Math.abs(a.x - b.x) > w / 2 || Math.abs(a.y - b.y) > h / 2) continue;   // wrapped
            off.globalAlpha = (i / p.trail.length) * 0.6 * p.opacity;
            off.beginPath();
            off.moveTo(a.x, a.y);
            off.lineTo(b.x, b.y);
            off.stroke();
        }
        off.globalAlpha = p.opacity;
        off.beginPath();
        off.arc(p.x, p.y, 2, 0, 2 * Math.PI);
        off.fill();
    });
    off.globalAlpha = 1;

    fillPaperBg(ctx, w, h);
    for (let pass = 0; pass < 4; pass++) {
        ctx.globalAlpha = 0.2 + 0.08 * Math.random();
        const dx = (Math.random() - 0.5) * 3;
        const dy = (pass - 2) * 3 + Math.random() * 4;
        ctx.drawImage(s.surface, dx, dy);
    }
    ctx.fillStyle = PANEL;
    s.streaks.forEach((streak, i) => {
        ctx.globalAlpha = 0.15 + 0.1 * Math.random();
        const x = streak.x + Math.sin(t * 0.001 * streak.sway + i) * 3;
        ctx.fillRect(x, 0, streak.width, h);
    });
    ctx.globalAlpha = 0.25;
    ctx.drawImage(s.surface, 0, 0);
    ctx.globalAlpha = 1;
}

// ===========================================================================
// WARM: ordered dots with a ripple and a wandering pale quadrant
// ===========================================================================

const WARM_CELL = 10;
const WARM_MORPH_MS = 3000;
const WARM_VEIL_MS = 2000;
const WARM_VEIL_FADE_MS = 250;
const WARM_VEIL_GAP_MS = 400;
const WARM_VEIL_COLOUR = '#ddd0be';

let warmState = null;

function drawWarm(ctx, w, h, t) {
    const cols = Math.max(1, Math.floor(w / WARM_CELL));
    const rows = Math.max(1, Math.floor(h / WARM_CELL));
    if (!warmState || warmState.cols !== cols || warmState.rows !== rows) {
        const count = cols * rows;
        warmState = {
            cols: cols,
            rows: rows,
            sizes: Array.from({ length: count }, (_, i) => seededRandom(i)),
            targets: Array.from({ length: count }, (_, i) => seededRandom(i + t * 0.001 + 0.5)),
            morphStart: t,
            quadrant: warmState ? warmState.quadrant : Math.floor(4 * seededRandom(t)),
            previous: warmState ? warmState.previous : -1,
            veilMoved: warmState ? warmState.veilMoved : t
        };
    }
    const s = warmState;
    if (t < s.morphStart) s.morphStart = t;
    if (t < s.veilMoved) s.veilMoved = t;
    if (t - s.morphStart >= WARM_MORPH_MS) {
        s.sizes = s.targets;
        s.targets = s.sizes.map((_, i) => seededRandom(i + t * 0.001));
        s.morphStart = t;
    }
    if (t - s.veilMoved >= WARM_VEIL_MS) {
        s.previous = s.quadrant;
        s.quadrant = (s.quadrant + 1 + Math.floor(3 * seededRandom(t * 0.001))) % 4;
        s.veilMoved = t;
    }

    fillPaperBg(ctx, w, h);
    const blend = easeInOutSine((t - s.morphStart) / WARM_MORPH_MS);
    const x0 = (w - cols * WARM_CELL) / 2 + WARM_CELL / 2;
    const y0 = (h - rows * WARM_CELL) / 2 + WARM_CELL / 2;
    const rx = w / 2 + 0.2 * w * Math.sin(0.0004 * t);
    const ry = h / 2 + 0.2 * h * Math.cos(0.0003 * t);
    ctx.fillStyle = INK;
    for (let row = 0; row < rows; row++) {
        for (let col = 0; col < cols; col++) {
            const i = row * cols + col;
            const x = x0 + col * WARM_CELL;
            const y = y0 + row * WARM_CELL;
            const base = s.sizes[i] + (s.targets[i] - s.sizes[i]) * blend;
            const d = Math.hypot(x - rx, y - ry);
            const size = clamp01(base + 0.4 * Math.sin(0.08 * d - 0.003 * t));
            const radius = size * 4;
            if (radius <= 0.5) continue;
            ctx.globalAlpha = 0.3 + 0.6 * size;
            ctx.beginPath();
            ctx.arc(x, y, radius, 0, 2 * Math.PI);
            ctx.fill();
        }
    }

    // Quadrants clockwise from the top left.
    const since = t - s.veilMoved;
    let veiled = s.quadrant;
    let opacity = 0.85;
    if (s.previous >= 0 && since < WARM_VEIL_FADE_MS) {
        veiled = s.previous;
        opacity = 0.85 * Math.pow(1 - since / WARM_VEIL_FADE_MS, 2);
    } else if (s.previous >= 0 && since < WARM_VEIL_FADE_MS + WARM_VEIL_GAP_MS) {
        veiled = -1;
    }
    if (veiled >= 0) {
        const qx = veiled === 1 || veiled === 2 ? w / 2 : 0;
        const qy = veiled >= 2 ? h / 2 : 0;
        ctx.globalAlpha = opacity;
        ctx.fillStyle = WARM_VEIL_COLOUR;
        ctx.fillRect(qx, qy, w / 2, h / 2);
    }
    ctx.globalAlpha = 1;
}

// ===========================================================================
// FOLD: recursive squares
// ===========================================================================

const FOLD_CYCLE_MS = 5000;
const FOLD_FIRST_SEED = 12345;
const FOLD_MAX_DEPTH = 4;
const FOLD_MIN_SIZE = 8;

let foldState = null;

function drawFoldSquare(ctx, x, y, size, seed, depth, progress, frame, jitterFrame) {
    const delay = 0.15 * depth;
    const local = clamp01((progress - delay) / (1 - delay));
    if (local <= 0) return;

    if (seededRandom(seed + 200 * depth) > 0.3) {
        const grown = size * local;
        let ox = x + (size - grown) / 2;
        let oy = y + (size - grown) / 2;
        if (jitterFrame && seededRandom(seed * 0.37 + frame) > 0.5) {
            ox += (seededRandom(seed + frame * 3) - 0.5) * 6;
            oy += (seededRandom(seed + frame * 5) - 0.5) * 6;
        }
        const flicker = seededRandom(seed * 1.3 + frame * 7) > 0.9 ? 0.2 : 0;
        ctx.globalAlpha = Math.min(1, 0.3 + 0.4 * local + flicker);
        ctx.strokeRect(Math.round(ox) + 0.5, Math.round(oy) + 0.5, grown, grown);
    }

    const half = size / 2;
    if (depth < FOLD_MAX_DEPTH && half >= FOLD_MIN_SIZE && seededRandom(seed + 100 * depth) > 0.4 && local > 0.3) {
        drawFoldSquare(ctx, x, y, half, seed + 1, depth + 1, progress, frame, jitterFrame);
        drawFoldSquare(ctx, x + half, y, half, seed + 2, depth + 1, progress, frame, jitterFrame);
        drawFoldSquare(ctx, x, y + half, half, seed + 3, depth + 1, progress, frame, jitterFrame);
        drawFoldSquare(ctx, x + half, y + half, half, seed + 4, depth + 1, progress, frame, jitterFrame);
    }
}

function drawFold(ctx, w, h, t) {
    if (!foldState) foldState = { seed: FOLD_FIRST_SEED, cycleStart: t, surface: null };
    const s = foldState;
    if (t < s.cycleStart) s.cycleStart = t;
    if (t - s.cycleStart >= FOLD_CYCLE_MS) {
        s.seed = Math.floor(t);
        s.cycleStart = t;
    }
    const raw = (t - s.cycleStart) / FOLD_CYCLE_MS;
    const progress = easeInOutCubic(raw);

    if (!s.surface || s.surface.width !== w || s.surface.height !== h) s.surface = makeSurface(w, h);
    const off = s.surface.getContext('2d');
    off.clearRect(0, 0, w, h);
    off.strokeStyle = INK;
    off.lineWidth = 1;
    const frame = Math.floor(t / 50);
    const jitterFrame = seededRandom(frame * 3.1 + 0.7) > 0.75;
    const side = Math.min(w, h) / 2;
    for (let k = 0; k < 4; k++) {
        drawFoldSquare(off, (k % 2) * side, Math.floor(k / 2) * side, side, s.seed + 1000 * k, 0,
            progress, frame, jitterFrame);
    }
    off.globalAlpha = 1;

    fillPaperBg(ctx, w, h);
    if (progress > 0.85) {
        // Blur and fade out over the last 15% of the construction.
        const k = (progress - 0.85) / 0.15;
        const passes = 1 + Math.min(3, Math.floor(k * 4));
        const fade = 1 - 0.8 * k;
        for (let p = 0; p < passes; p++) {
            const angle = (p / passes) * 2 * Math.PI + seededRandom(frame + p) * 0.5;
            const r = 6 * k;
            ctx.globalAlpha = fade / passes;
            ctx.drawImage(s.surface, Math.cos(angle) * r, Math.sin(angle) * r);
        }
    } else {
        ctx.globalAlpha = 1;
        ctx.drawImage(s.surface, 0, 0);
    }
    ctx.globalAlpha = 1;
}

// ===========================================================================
// Animation loop
// ===========================================================================

const ANIMATIONS = [
    ['threshold-canvas', drawSweep],
    ['diffusion-std', drawClean],
    ['diffusion-flow', drawGrit],
    ['diffusion-ord', drawWarm],
    ['diffusion-sub', drawFold]
];

let animationClock = 0;
let animationFrame = null;

function frame(now) {
    stepModeCycle(now);
    const t = now - animationClock;
    for (const [id, draw] of ANIMATIONS) {
        const canvas = document.getElementById(id);
        draw(canvas.getContext('2d'), canvas.width, canvas.height, t);
    }
    animationFrame = requestAnimationFrame(frame);
}

function startAnimations() {
    for (const [id] of ANIMATIONS) {
        const canvas = document.getElementById(id);
        canvas.width = canvas.clientWidth || 100;
        canvas.height = canvas.clientHeight || 100;
        canvas.getContext('2d').imageSmoothingEnabled = false;
    }
    animationClock = performance.now();
    if (animationFrame !== null) cancelAnimationFrame(animationFrame);
    animationFrame = requestAnimationFrame(frame);
}

// ===========================================================================
// Start-up
// ===========================================================================

drawClouds();
startTransportRequests();

window.addEventListener('load', () => {
    startAnimations();
    buildControls();
    window.requestPresets();
});

window.addEventListener('resize', startAnimations);


// Tessellgrove page bridge. The editor places this script in the page's head,
// so it runs before the page's own script. It owns the link to the plug-in:
//  - page -> plug-in: every message is one JSON object posted through
//    window.ipc.postMessage once the editor has called window._ipcReady();
//    messages sent earlier wait in a queue and leave in their original order.
//  - plug-in -> page: the plug-in evaluates statements that call the
//    underscore functions below; they store what they receive on window and
//    announce it with a DOM event that the page listens to.
(function () {
    'use strict';

    // JSON texts sent before the link was ready, oldest first.
    var outgoing = [];
    // True once the editor has called window._ipcReady().
    var ready = false;
    // Interval id of the 50 ms poll; started by the first _ipcReady().
    var pollTimer = null;

    // Regular prompt for the editor to evaluate the statements it has queued.
    var POLL_INTERVAL_MS = 50;
    // Extra prompts after a preset load, so its answers (audio thread ->
    // preset worker -> script queue) arrive before the next regular poll.
    var LOAD_POLL_DELAYS_MS = [20, 50, 100, 200];
    // Parameters echoed into the "debug-values" element by "preset_values".
    var DEBUG_VALUE_IDS = ['char_mode', 'carrier_mode', 'mix', 'output_gain', 'lock_freq', 'trig_amount'];
    // Parameters whose outgoing changes are written to the console.
    var LOGGED_PARAM_IDS = ['char_mode', 'carrier_mode', 'mix'];

    window.pluginParams = {};
    window.presets = [];
    window.currentPreset = null;

    function post(text) {
        window.ipc.postMessage(text);
    }

    function send(message) {
        var text = JSON.stringify(message);
        if (window.ipc && ready) {
            post(text);
        } else {
            outgoing.push(text);
        }
    }

    function emit(type, detail) {
        window.dispatchEvent(new CustomEvent(type, { detail: detail }));
    }

    // ---- page -> plug-in ----------------------------------------------------

    window.setParam = function (name, value) {
        if (LOGGED_PARAM_IDS.indexOf(name) !== -1) {
            console.log('[setParam] ' + name + ' = ' + value);
        }
        send({ type: 'set_param', name: name, value: value });
    };

    window.beginEdit = function (name) {
        send({ type: 'begin_edit', name: name });
    };

    window.endEdit = function (name) {
        send({ type: 'end_edit', name: name });
    };

    window.requestParams = function () {
        send({ type: 'request_params' });
    };

    window.requestTransport = function () {
        send({ type: 'request_transport' });
    };

    window.sendCustom = function (action, payload) {
        send({ type: 'custom', action: action, payload: payload === undefined || payload === null ? '' : payload });
    };

    window.requestPresets = function () {
        send({ type: 'request_presets' });
    };

    window.loadPreset = function (name, isFactory) {
        console.log('[loadPreset] ' + name + (isFactory ? ' (factory)' : ' (user)'));
        send({ type: 'load_preset', name: name, is_factory: Boolean(isFactory) });
        LOAD_POLL_DELAYS_MS.forEach(function (delay) {
            setTimeout(function () { window._pollMessages(); }, delay);
        });
    };

    window.savePreset = function (name) {
        send({ type: 'save_preset', name: name });
    };

    window.deletePreset = function (name) {
        send({ type: 'delete_preset', name: name });
    };

    window._pollMessages = function () {
        send({ type: 'poll_messages' });
    };

    // ---- plug-in -> page ----------------------------------------------------

    window._updateParam = function (name, value) {
        window.pluginParams[name] = value;
        emit('paramchange', { name: name, value: value });
    };

    // Full parameter list from the editor: [{ name, value, default, min, max, display }].
    window._setAllParams = function (params) {
        var list = Array.isArray(params) ? params : [];
        list.forEach(function (entry) {
            window.pluginParams[entry.name] = {
                value: entry.value,
                default: entry.default,
                min: entry.min,
                max: entry.max,
                display: entry.display
            };
        });
        emit('paramsloaded', params);
    };

    window._updateTransport = function (bpm, playing) {
        window.transport = { bpm: bpm, playing: playing };
        emit('transport', { bpm: bpm, playing: playing });
    };

    window._updatePresets = function (presets) {
        window.presets = presets;
        emit('presetsloaded', presets);
    };

    window._presetLoaded = function (name) {
        window.currentPreset = name;
        emit('presetloaded', { name: name });
    };

    window._presetSaved = function (name) {
        window.currentPreset = name;
        emit('presetsaved', { name: name });
        window.requestPresets();
    };

    window._presetDeleted = function (name) {
        if (window.currentPreset === name) {
            window.currentPreset = null;
        }
        emit('presetdeleted', { name: name });
        window.requestPresets();
    };

    window._presetError = function (message) {
        emit('preseterror', { message: message });
    };

    window._setCurrentPresetName = function (name) {
        console.log('[_setCurrentPresetName] ' + name);
        var element = document.getElementById('preset-name');
        if (element) {
            element.textContent = name ? name : 'Init';
        }
        emit('presetloaded', { name: name });
    };

    // Each pair is [parameter id, normalised value]. Every value goes back to
    // the plug-in as a set_param and to the page as a paramchange. The debug
    // entry is formatted before its pair is applied, so a pair that fails
    // (a non-number for one of the echoed ids) is never sent.
    function applyPresetValues(payload) {
        try {
            var pairs = JSON.parse(payload);
            if (!Array.isArray(pairs)) {
                throw new TypeError('preset_values payload is not a list');
            }
            var echoed = [];
            for (var i = 0; i < pairs.length; i++) {
                var id = pairs[i][0];
                var value = pairs[i][1];
                if (DEBUG_VALUE_IDS.indexOf(id) !== -1) {
                    echoed.push(id + '=' + value.toFixed(3));
                }
                window.setParam(id, value);
                emit('paramchange', { name: id, value: value });
            }
            console.log('[preset_values] applied ' + pairs.length + ' values');
            var debug = document.getElementById('debug-values');
            if (debug) {
                debug.textContent = 'Preset vals: ' + echoed.join(', ');
            }
        } catch (error) {
            console.error('Failed to apply preset values:', error);
        }
    }

    window._handleCustomMessage = function (action, payload) {
        console.log('[_handleCustomMessage] action=' + action + ', payload_len=' + (payload ? payload.length : 0));
        switch (action) {
        case 'presets_list': {
            var list;
            try {
                list = JSON.parse(payload);
                if (!Array.isArray(list)) {
                    throw new TypeError('presets_list payload is not a list');
                }
            } catch (error) {
                console.error('Failed to parse presets_list:', error);
                return;
            }
            window._updatePresets(list);
            break;
        }
        case 'preset_values':
            applyPresetValues(payload);
            break;
        case 'preset_loaded':
            window._presetLoaded(payload);
            break;
        case 'preset_saved':
            window._presetSaved(payload);
            break;
        case 'preset_deleted':
            window._presetDeleted(payload);
            break;
        case 'preset_error':
            window._presetError(payload);
            break;
        default:
            emit('custommessage', { action: action, payload: payload });
        }
    };

    window._ipcReady = function () {
        ready = true;
        if (window.ipc) {
            var queued = outgoing;
            outgoing = [];
            queued.forEach(post);
        }
        if (pollTimer === null) {
            pollTimer = setInterval(function () { window._pollMessages(); }, POLL_INTERVAL_MS);
        }
    };

    // Ask for every parameter once the document is there. Registered in the
    // head, this load handler runs before the page's own ones.
    if (document.readyState === 'complete') {
        window.requestParams();
    } else {
        window.addEventListener('load', function () { window.requestParams(); });
    }
})();

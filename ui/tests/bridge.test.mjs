// The bridge script: outgoing queue, message JSON, plug-in callbacks and
// custom actions, as seen through a recording window.ipc.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, openEditor, withoutPolls, only } from './support/harness.mjs';

const BRIDGE_EVENTS = ['paramchange', 'paramsloaded', 'transport', 'presetsloaded', 'presetloaded',
    'presetsaved', 'presetdeleted', 'preseterror', 'custommessage'];

// Records every bridge event with the number of texts posted when it fired.
async function recordEvents(page) {
    await page.evaluate((types) => {
        window.__events = [];
        for (const type of types) {
            window.addEventListener(type, (event) => {
                window.__events.push({ type, detail: event.detail, postedBefore: window.__posted.length });
            });
        }
    }, BRIDGE_EVENTS);
}

const events = (page) => page.evaluate(() => window.__events);

describe('bridge script', () => {
    let browser;
    before(async () => { browser = await launchBrowser(); });
    after(async () => { await browser.close(); });

    it('queues messages until _ipcReady, then posts them first and in order', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await page.evaluate(() => window.setParam('mix', 0.25));
        assert.deepEqual(await editor.postedTexts(), [], 'nothing may be posted before _ipcReady');

        // Read in the same task as _ipcReady, so no 50 ms poll can follow.
        const texts = (await page.evaluate(() => {
            window._ipcReady();
            window.beginEdit('mix');
            return window.__posted.slice();
        })).filter((t) => t !== '{"type":"request_transport"}');
        // Start-up: the bridge's request_params goes out before the page's
        // request_presets. Transport requests (every 500 ms) may sit between.
        assert.deepEqual(texts, [
            '{"type":"request_params"}',
            '{"type":"request_presets"}',
            '{"type":"set_param","name":"mix","value":0.25}',
            '{"type":"begin_edit","name":"mix"}'
        ]);

        assert.deepEqual(editor.consoleErrors(), []);
        await page.close();
    });

    it('sends each page function as its JSON message', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await page.evaluate(() => {
            window.__posted.length = 0;   // same task as the calls: no timer can interleave
            window.setParam('lock_freq', 0.5329);
            window.beginEdit('mix');
            window.endEdit('mix');
            window.requestParams();
            window.requestTransport();
            window.sendCustom('x');
            window.sendCustom('act', 'data');
            window.requestPresets();
            window.loadPreset('A');
            window.loadPreset('B', true);
            window.savePreset('My Lead');
            window.deletePreset('Old');
            window._pollMessages();
        });
        const texts = await editor.postedTexts();
        const expected = [
            '{"type":"set_param","name":"lock_freq","value":0.5329}',
            '{"type":"begin_edit","name":"mix"}',
            '{"type":"end_edit","name":"mix"}',
            '{"type":"request_params"}',
            '{"type":"request_transport"}',
            '{"type":"custom","action":"x","payload":""}',
            '{"type":"custom","action":"act","payload":"data"}',
            '{"type":"request_presets"}',
            '{"type":"load_preset","name":"A","is_factory":false}',
            '{"type":"load_preset","name":"B","is_factory":true}',
            '{"type":"save_preset","name":"My Lead"}',
            '{"type":"delete_preset","name":"Old"}',
            '{"type":"poll_messages"}'
        ];
        assert.deepEqual(texts.slice(0, expected.length), expected);
        await page.close();
    });

    it('stores and announces what the plug-in statements deliver', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await recordEvents(page);

        const state = await page.evaluate(() => {
            const out = {};
            window._setAllParams([{ name: 'mix', value: 0.3, default: 0.5, min: 0, max: 1, display: '30' }]);
            out.afterAll = JSON.parse(JSON.stringify(window.pluginParams.mix));
            window._updateParam('mix', 0.75);
            out.afterUpdate = window.pluginParams.mix;
            window._updateTransport(128.5, true);
            out.transport = window.transport;
            window._updatePresets([{ name: 'A', is_factory: true }]);
            out.presets = window.presets;
            window._presetLoaded('A');
            out.loaded = window.currentPreset;
            window._presetSaved('B');
            out.saved = window.currentPreset;
            window._presetDeleted('A');
            out.afterOtherDeleted = window.currentPreset;
            window._presetDeleted('B');
            out.afterCurrentDeleted = window.currentPreset;
            window._presetError('Preset \'Z\' not found');
            window._setCurrentPresetName('');
            out.nameShownForEmpty = document.getElementById('preset-name').textContent;
            window._setCurrentPresetName('Bass');
            out.nameShown = document.getElementById('preset-name').textContent;
            return out;
        });
        assert.deepEqual(state.afterAll, { value: 0.3, default: 0.5, min: 0, max: 1, display: '30' });
        assert.equal(state.afterUpdate, 0.75, '_updateParam replaces the object by the bare number');
        assert.deepEqual(state.transport, { bpm: 128.5, playing: true });
        assert.deepEqual(state.presets, [{ name: 'A', is_factory: true }]);
        assert.equal(state.loaded, 'A');
        assert.equal(state.saved, 'B');
        assert.equal(state.afterOtherDeleted, 'B', 'deleting another preset keeps the current one');
        assert.equal(state.afterCurrentDeleted, null);
        assert.equal(state.nameShownForEmpty, 'Init');
        assert.equal(state.nameShown, 'Bass');

        const seen = await events(page);
        assert.deepEqual(seen.map((e) => [e.type, e.detail]), [
            ['paramsloaded', [{ name: 'mix', value: 0.3, default: 0.5, min: 0, max: 1, display: '30' }]],
            ['paramchange', { name: 'mix', value: 0.75 }],
            ['transport', { bpm: 128.5, playing: true }],
            ['presetsloaded', [{ name: 'A', is_factory: true }]],
            ['presetloaded', { name: 'A' }],
            ['presetsaved', { name: 'B' }],
            ['presetdeleted', { name: 'A' }],
            ['presetdeleted', { name: 'B' }],
            ['preseterror', { message: 'Preset \'Z\' not found' }],
            ['presetloaded', { name: '' }],
            ['presetloaded', { name: 'Bass' }]
        ]);

        // Saved and deleted answers ask for the list after their event; the page
        // asks once more for each deletion.
        const requests = only(await editor.posted(), 'request_presets');
        assert.equal(requests.length, 1 + 2 + 2);
        const saved = seen.find((e) => e.type === 'presetsaved');
        const postedAfterSave = (await editor.posted()).slice(saved.postedBefore);
        assert.equal(withoutPolls(postedAfterSave)[0].type, 'request_presets');
        await page.close();
    });

    it('runs the plug-in statements as the plug-in writes them, escaped payloads included', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await recordEvents(page);
        // The plug-in's escaping of a custom payload: \ first, then ', LF and CR.
        const escape = (text) => text.replaceAll('\\', '\\\\').replaceAll('\'', '\\\'')
            .replaceAll('\n', '\\n').replaceAll('\r', '\\r');
        const payload = 'It\'s a \\\'path\'\r\nline 2\ttab';
        const statements = [
            'if (window._updateParam) window._updateParam(\'mix\', 0.5);',
            'if (window._updateTransport) window._updateTransport(128.5, true);',
            `if (window._handleCustomMessage) window._handleCustomMessage('preset_error', '${escape(payload)}');`
        ];
        await page.evaluate((texts) => texts.forEach((text) => (0, eval)(text)), statements);
        assert.deepEqual((await events(page)).map((e) => [e.type, e.detail]), [
            ['paramchange', { name: 'mix', value: 0.5 }],
            ['transport', { bpm: 128.5, playing: true }],
            ['preseterror', { message: payload }]
        ]);
        assert.equal(await page.textContent('#dial-mix .dial-value'), '50%');
        assert.equal(await page.textContent('#tempo-display'), '128.5 BPM');
        await page.close();
    });

    it('handles the custom actions and rejects bad payloads with console errors', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await page.evaluate(() => {
            const debug = document.createElement('div');
            debug.id = 'debug-values';
            document.body.append(debug);
        });
        await recordEvents(page);

        const values = [['input_gain', 0.5], ['mix', 0.25], ['output_gain', 0.6666667], ['lock_freq', 0.5329],
            ['carrier_mode', 0.5], ['char_mode', 1], ['trig_amount', 0], ['comb_mix', 0.1]];
        await page.evaluate((payload) => {
            window._handleCustomMessage('presets_list', '[{"name":"Ambient Wash","is_factory":true},{"name":"Mine","is_factory":false}]');
            window._handleCustomMessage('presets_list', '[]');
            window._handleCustomMessage('presets_list', '{not json');
            window._handleCustomMessage('preset_values', payload);
            window._handleCustomMessage('preset_loaded', 'Init');
            window._handleCustomMessage('preset_saved', 'Keep');
            window._handleCustomMessage('preset_deleted', 'Gone');
            window._handleCustomMessage('preset_error', 'Preset \'Q\' not found');
            window._handleCustomMessage('something_else', 'abc');
            window._handleCustomMessage('empty', '');
        }, JSON.stringify(values));

        const seen = (await events(page)).map((e) => [e.type, e.detail]);
        assert.deepEqual(seen, [
            ['presetsloaded', [{ name: 'Ambient Wash', is_factory: true }, { name: 'Mine', is_factory: false }]],
            ['presetsloaded', []],
            ...values.map(([name, value]) => ['paramchange', { name, value }]),
            ['presetloaded', { name: 'Init' }],
            ['presetsaved', { name: 'Keep' }],
            ['presetdeleted', { name: 'Gone' }],
            ['preseterror', { message: 'Preset \'Q\' not found' }],
            ['custommessage', { action: 'something_else', payload: 'abc' }],
            ['custommessage', { action: 'empty', payload: '' }]
        ]);
        const sets = only(await editor.posted(), 'set_param', 'begin_edit', 'end_edit');
        assert.deepEqual(sets, values.map(([name, value]) => ({ type: 'set_param', name, value })),
            'preset values go back as bare set_param messages');
        assert.equal(await page.textContent('#debug-values'),
            'Preset vals: mix=0.250, output_gain=0.667, lock_freq=0.533, carrier_mode=0.500, char_mode=1.000, trig_amount=0.000');

        const logLines = editor.log.console.map((m) => m.text);
        assert.ok(logLines.includes('[_handleCustomMessage] action=something_else, payload_len=3'));
        assert.ok(logLines.includes('[_handleCustomMessage] action=empty, payload_len=0'));
        assert.equal(editor.consoleErrors().filter((t) => t.startsWith('Failed to parse presets_list:')).length, 1);

        // A bad value for an echoed id stops the loop; earlier pairs stay applied.
        await editor.clearPosted();
        await page.evaluate(() => {
            window._handleCustomMessage('preset_values', '[["input_gain",0.1],["mix","loud"],["comb_mix",0.9]]');
            window._handleCustomMessage('preset_values', '[["input_gain",');
            window._handleCustomMessage('presets_list', '{"name":"not a list"}');
        });
        assert.deepEqual(only(await editor.posted(), 'set_param'), [{ type: 'set_param', name: 'input_gain', value: 0.1 }]);
        const errors = editor.consoleErrors();
        assert.equal(errors.filter((t) => t.startsWith('Failed to apply preset values:')).length, 2);
        assert.equal(errors.filter((t) => t.startsWith('Failed to parse presets_list:')).length, 2);
        assert.deepEqual(editor.log.errors, []);
        await page.close();
    });
});

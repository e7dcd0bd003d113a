// The controls: pointer gestures and what they send, and values arriving
// from the plug-in shown through the reversed mappings.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, openEditor, only } from './support/harness.mjs';

const EDITS = ['begin_edit', 'set_param', 'end_edit'];

async function centreOf(page, selector) {
    const box = await page.locator(selector).boundingBox();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2, box };
}

const textOf = (page, selector) => page.textContent(selector);

describe('controls', () => {
    let browser;
    before(async () => { browser = await launchBrowser(); });
    after(async () => { await browser.close(); });

    it('dials: 150 px upward from 0 reaches exactly 1, moving down lowers, begin/end around', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await page.evaluate(() => window._updateParam('mix', 0));
        assert.equal(await textOf(page, '#dial-mix .dial-value'), '0%');
        await editor.clearPosted();

        const { x, y } = await centreOf(page, '#dial-mix .dial');
        await page.mouse.move(x, y);
        await page.mouse.down();
        await page.mouse.move(x, y - 75, { steps: 5 });
        await page.mouse.move(x, y - 150, { steps: 5 });
        await page.mouse.up();
        let sent = only(await editor.posted(), ...EDITS);
        assert.deepEqual(sent[0], { type: 'begin_edit', name: 'mix' });
        assert.deepEqual(sent.at(-1), { type: 'end_edit', name: 'mix' });
        const values = sent.slice(1, -1).map((m) => m.value);
        assert.equal(values.length, 10, 'one set_param per pointer move');
        assert.equal(values.at(-1), 1);
        assert.ok(values.every((v, i) => i === 0 || v >= values[i - 1]), 'upward travel only raises');
        assert.equal(await textOf(page, '#dial-mix .dial-value'), '100%');
        assert.equal(await page.evaluate(() => window.uiState.mix), 1);

        // Past the top stays at 1; 30 px down from 1 gives 0.8.
        await editor.clearPosted();
        await page.mouse.move(x, y);
        await page.mouse.down();
        await page.mouse.move(x, y - 100);
        await page.mouse.move(x, y + 30);
        await page.mouse.up();
        sent = only(await editor.posted(), 'set_param').map((m) => m.value);
        assert.equal(sent[0], 1);
        assert.ok(Math.abs(sent[1] - 0.8) < 1e-9, `got ${sent[1]}`);

        // The pointer turns from -135 deg at 0 to +135 deg at 1.
        const angle = (n) => page.evaluate((value) => {
            window._updateParam('comb_tuning', value);
            return document.querySelector('#dial-comb_tuning .dial-pointer').style.transform;
        }, n);
        assert.equal(await angle(0), 'rotate(-135deg)');
        assert.equal(await angle(1), 'rotate(135deg)');
        assert.equal(await textOf(page, '#dial-comb_tuning .dial-value'), '5.0 kHz');
        await angle(0);
        assert.equal(await textOf(page, '#dial-comb_tuning .dial-value'), '20 Hz');
        await page.close();
    });

    it('bars: edges give 0 and 1, drags past either end stay there', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        const { y, box } = await centreOf(page, '#bar-carrier_env_amount');

        await page.mouse.click(box.x + box.width - 0.5, y);
        await page.mouse.click(box.x + 0.5, y);
        let sent = only(await editor.posted(), ...EDITS);
        assert.deepEqual(sent, [
            { type: 'begin_edit', name: 'carrier_env_amount' },
            { type: 'set_param', name: 'carrier_env_amount', value: 1 },
            { type: 'end_edit', name: 'carrier_env_amount' },
            { type: 'begin_edit', name: 'carrier_env_amount' },
            { type: 'set_param', name: 'carrier_env_amount', value: 0 },
            { type: 'end_edit', name: 'carrier_env_amount' }
        ]);

        await editor.clearPosted();
        await page.mouse.move(box.x + box.width / 2, y);
        await page.mouse.down();
        await page.mouse.move(box.x + box.width + 80, y);
        assert.equal(await textOf(page, '#value-carrier_env_amount'), '100%');
        await page.mouse.move(box.x - 80, y);
        await page.mouse.up();
        sent = only(await editor.posted(), 'set_param').map((m) => m.value);
        assert.ok(Math.abs(sent[0] - 0.5) < 0.01);
        assert.deepEqual(sent.slice(1), [1, 0]);
        assert.equal(await textOf(page, '#value-carrier_env_amount'), '0%');
        const thumb = await page.evaluate(() => [
            document.querySelector('#bar-carrier_env_amount .bar-thumb').style.left,
            document.querySelector('#bar-carrier_env_amount .bar-fill').style.width]);
        assert.deepEqual(thumb, ['0%', '0%']);

        // LOCK POINT has no text; its thumb and the page's frequency follow n.
        await editor.clearPosted();
        const lock = await centreOf(page, '#bar-lock_freq');
        await page.mouse.click(lock.box.x + lock.box.width - 1, lock.y);
        assert.deepEqual(only(await editor.posted(), 'set_param'), [{ type: 'set_param', name: 'lock_freq', value: 1 }]);
        assert.equal(await page.evaluate(() => window.uiState.lock_freq), 5000);
        await page.close();
    });

    it('toggles: FREQ, AMP (0.5 from zero) and CYCLE send begin/set/end and dim their rows', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();

        await page.click('#toggle-amp');
        assert.equal(await textOf(page, '#toggle-amp .toggle-state'), 'ON');
        assert.equal(await textOf(page, '#value-trig_amount'), '50%');
        await page.click('#toggle-amp');
        assert.equal(await textOf(page, '#value-trig_amount'), '0%');
        await page.click('#toggle-freq');
        await page.click('#toggle-cycle');
        await page.click('#toggle-cycle');
        assert.deepEqual(only(await editor.posted(), ...EDITS), [
            ['trig_amount', 0.5], ['trig_amount', 0], ['lock_motion_enable', 1],
            ['mode_cycle_enable', 1], ['mode_cycle_enable', 0]
        ].flatMap(([name, value]) => [
            { type: 'begin_edit', name }, { type: 'set_param', name, value }, { type: 'end_edit', name }]));

        const dim = await page.evaluate(() => ['row-freq', 'row-amp'].map((id) => {
            const controls = document.querySelector(`#${id} .row-controls`);
            const style = getComputedStyle(controls);
            return [document.querySelector(`#${id} .toggle-state`).textContent, style.opacity, style.pointerEvents];
        }));
        assert.deepEqual(dim, [['ON', '1', 'auto'], ['OFF', '0.4', 'none']]);

        // AMP on keeps an amount above 0.01; dragging its bar below 0.01 switches the row off.
        await page.evaluate(() => window._updateParam('trig_amount', 0.3));
        assert.equal(await textOf(page, '#toggle-amp .toggle-state'), 'ON');
        await editor.clearPosted();
        const amp = await centreOf(page, '#bar-trig_amount');
        await page.mouse.move(amp.x, amp.y);
        await page.mouse.down();
        await page.mouse.move(amp.box.x - 20, amp.y);
        await page.mouse.up();
        assert.equal(await textOf(page, '#toggle-amp .toggle-state'), 'OFF');
        assert.equal(only(await editor.posted(), 'set_param').at(-1).value, 0);
        await page.evaluate(() => window._updateParam('trig_amount', 0.3));
        await page.evaluate(() => window._updateParam('trig_amount', 0.005));
        assert.equal(await textOf(page, '#toggle-amp .toggle-state'), 'OFF');
        assert.deepEqual(editor.log.errors, []);
        await page.close();
    });

    it('drop-downs, mode buttons and character boxes send index/(options - 1)', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await page.click('#toggle-freq');
        await page.click('#toggle-amp');
        const open = () => page.evaluate(() => [...document.querySelectorAll('.dropdown.open')].map((d) => d.id));

        await page.click('#dd-lock_motion_rate .dropdown-field');
        assert.deepEqual(await open(), ['dd-lock_motion_rate']);
        const list = await page.locator('#dd-lock_motion_rate .dropdown-list').boundingBox();
        const field = await page.locator('#dd-lock_motion_rate .dropdown-field').boundingBox();
        assert.ok(list.y + list.height <= field.y + 0.5 && list.height <= 200, 'the list opens above its field');
        await page.click('#dd-trig_div .dropdown-field');
        assert.deepEqual(await open(), ['dd-trig_div'], 'the FREQ and AMP lists close the others');
        await page.click('#dd-mode_cycle_div .dropdown-field');
        assert.deepEqual(await open(), ['dd-trig_div', 'dd-mode_cycle_div'], 'the CYCLE list closes nothing');
        await page.mouse.click(450, 580);
        assert.deepEqual(await open(), [], 'a click elsewhere closes every list');

        await page.click('#dd-lock_motion_rate .dropdown-field');
        await page.click('#dd-lock_motion_rate .dropdown-option:text-is("1/2")');
        await page.click('#dd-lock_motion_shape .dropdown-field');
        await page.click('#dd-lock_motion_shape .dropdown-option:text-is("S&H")');
        await page.click('#dd-trig_div .dropdown-field');
        await page.click('#dd-trig_div .dropdown-option:text-is("1/32")');
        await page.click('#dd-mode_cycle_div .dropdown-field');
        await page.click('#dd-mode_cycle_div .dropdown-option:text-is("1/8")');
        assert.deepEqual(await open(), []);
        const marked = await page.evaluate(() => ['lock_motion_rate', 'trig_div', 'mode_cycle_div'].map((id) =>
            [...document.querySelectorAll(`#dd-${id} .dropdown-option.selected`)].map((o) => o.textContent)));
        assert.deepEqual(marked, [['1/2'], ['1/32'], []]);
        assert.equal(await textOf(page, '#dd-lock_motion_rate .dropdown-field'), '1/2');

        await page.click('#mode-swarm');
        assert.equal(await page.isVisible('#bars-swarm'), true);
        assert.equal(await page.isVisible('#bars-formant'), false);
        await page.click('#char-warm');
        const boxes = await page.evaluate(() => [...document.querySelectorAll('.char-box')].map((b) =>
            [b.querySelector('.char-state').textContent, getComputedStyle(b).opacity, getComputedStyle(b).borderTopWidth]));
        assert.deepEqual(boxes, [['off', '0.5', '1px'], ['off', '0.5', '1px'], ['on', '1', '3px'], ['off', '0.5', '1px']]);

        const sets = only(await editor.posted(), 'set_param').slice(2).map((m) => [m.name, m.value]);
        assert.deepEqual(sets, [['lock_motion_rate', 3 / 8], ['lock_motion_shape', 1], ['trig_div', 1],
            ['mode_cycle_div', 1 / 3], ['carrier_mode', 1], ['char_mode', 2 / 3]]);
        await page.close();
    });

    it('values from the plug-in update the display and uiState and send nothing', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await editor.clearPosted();
        const shown = await page.evaluate(() => {
            window.__posted.length = 0;
            const changes = [['input_gain', 0], ['output_gain', 1], ['stereo_width', 0.25], ['mix', 0.333],
                ['lock_motion_rate', 0.375], ['lock_motion_shape', 0.75], ['lock_motion_enable', 0.6],
                ['carrier_mode', 0.5], ['char_mode', 1 / 3], ['trig_div', 0], ['mode_cycle_div', 1 / 3],
                ['formant_morph_rate', 0.5], ['swarm_count', 1], ['stoch_density', 0.456],
                ['comb_feedback', 1], ['no_such_param', 0.5], ['mix', 'not a number']];
            changes.forEach(([name, value]) => window._updateParam(name, value));
            window._setAllParams([{ name: 'char_amount', value: 0.25 }, { name: 'trig_amount', value: 0.02 }]);
            const text = (s) => document.querySelector(s).textContent;
            return {
                dials: ['input_gain', 'output_gain', 'stereo_width', 'mix', 'comb_feedback', 'char_amount']
                    .map((id) => text(`#dial-${id} .dial-value`)),
                fields: ['lock_motion_rate', 'lock_motion_shape', 'trig_div', 'mode_cycle_div']
                    .map((id) => text(`#dd-${id} .dropdown-field`)),
                bars: ['formant_morph_rate', 'swarm_count', 'stoch_density', 'trig_amount']
                    .map((id) => text(`#value-${id}`)),
                mode: text('.mode-button.active'),
                stochShown: getComputedStyle(document.getElementById('bars-stoch')).display !== 'none',
                freq: text('#toggle-freq .toggle-state'),
                amp: text('#toggle-amp .toggle-state'),
                char: text('.char-box.active .char-name'),
                state: [uiState.input_gain, uiState.output_gain, uiState.stereo_width, uiState.lock_motion_rate,
                    uiState.carrier_mode, uiState.char_mode, uiState.lock_motion_enable],
                posted: window.__posted.filter((t) => !t.includes('poll_messages') && !t.includes('request_transport'))
            };
        });
        assert.deepEqual(shown.dials, ['-12dB', '+12dB', '50%', '33%', '0.95', '25%']);
        assert.deepEqual(shown.fields, ['1/2', 'SQR', '1/4', '1/8']);
        assert.deepEqual(shown.bars, ['2.5 Hz', '16', '0.46', '2%']);
        assert.equal(shown.mode, 'STOCH');
        assert.equal(shown.stochShown, true);
        assert.equal(shown.freq, 'ON');
        assert.equal(shown.amp, 'ON');
        assert.equal(shown.char, 'GRIT');
        assert.deepEqual(shown.state, [-12, 12, 0.5, 3, 1, 1, true]);
        assert.deepEqual(shown.posted, []);
        assert.deepEqual(editor.log.errors, []);
        await page.close();
    });
});

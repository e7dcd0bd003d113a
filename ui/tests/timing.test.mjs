// Everything driven by timers, under the browser's controlled clock: the
// 50 ms poll, the extra polls after loadPreset, the 500 ms transport
// requests, the tempo display and the mode cycling display.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, openEditor, only } from './support/harness.mjs';

// Opens the editor with the clock stopped right after load.
async function openPaused(browser) {
    const editor = await openEditor(browser);
    const now = await editor.page.evaluate(() => Date.now());
    await editor.page.clock.pauseAt(now + 1000);
    return editor;
}

const count = async (editor, type) => only(await editor.posted(), type).length;

describe('timers', () => {
    let browser;
    before(async () => {
        browser = await launchBrowser();
        await browser.context.clock.install({ time: new Date('2026-01-01T00:00:00Z') });
    });
    after(async () => { await browser.close(); });

    it('polls every 50 ms once ready, with extra polls 20, 50, 100 and 200 ms after loadPreset', async () => {
        const editor = await openPaused(browser);
        const { page } = editor;
        await page.clock.runFor(300);
        await page.evaluate(() => { window.__posted.length = 0; });
        // Nothing polls before _ipcReady: the queue holds only the start-up messages.
        await page.evaluate(() => { window._ipcReady(); });
        assert.equal(await count(editor, 'poll_messages'), 0);

        await page.evaluate(() => { window.__posted.length = 0; window.loadPreset('A', true); });
        const seen = [];
        for (const step of [19, 1, 30, 50, 50, 50]) {
            await page.clock.runFor(step);
            seen.push(await count(editor, 'poll_messages'));
        }
        // extra at 20; extra + regular at 50 and 100; regular at 150; extra + regular at 200
        assert.deepEqual(seen, [0, 1, 3, 5, 6, 8]);

        await page.evaluate(() => { window._ipcReady(); window.__posted.length = 0; });
        await page.clock.runFor(1000);
        assert.equal(await count(editor, 'poll_messages'), 20, 'a second _ipcReady starts no second timer');
        await page.close();
    });

    it('requests the transport every 500 ms while visible and shows the tempo', async () => {
        const editor = await openPaused(browser);
        const { page } = editor;
        await editor.ready();
        await page.clock.runFor(1000);
        assert.equal(await count(editor, 'request_transport'), 2);

        const setHidden = (hidden) => page.evaluate((value) => {
            Object.defineProperty(document, 'hidden', { configurable: true, get: () => value });
            document.dispatchEvent(new Event('visibilitychange'));
        }, hidden);
        await setHidden(true);
        await editor.clearPosted();
        await page.clock.runFor(2000);
        assert.equal(await count(editor, 'request_transport'), 0, 'no requests while hidden');
        await setHidden(false);
        await page.clock.runFor(1000);
        assert.equal(await count(editor, 'request_transport'), 2);

        const tempo = await page.evaluate(() => {
            const shown = [];
            for (const bpm of [128.5, 90, 174.04]) {
                window._updateTransport(bpm, true);
                shown.push(document.getElementById('tempo-display').textContent);
            }
            return shown;
        });
        assert.deepEqual(tempo, ['128.5 BPM', '90.0 BPM', '174.0 BPM']);
        await page.close();
    });

    it('steps the shown carrier mode every period while CYCLE is on, never sending it', async () => {
        const editor = await openPaused(browser);
        const { page } = editor;
        await editor.ready();
        const shown = () => page.evaluate(() => [
            document.querySelector('.mode-button.active').textContent,
            ['formant', 'stoch', 'swarm'].filter((m) =>
                getComputedStyle(document.getElementById('bars-' + m)).display !== 'none').join(),
            window.uiState.carrier_mode
        ]);

        // 120 BPM (no transport yet), 1/4: one step per 500 ms. Checks sit at least
        // one animation frame (16 ms) after a step is due.
        await page.click('#toggle-cycle');
        const steps = [];
        for (const step of [490, 30, 500, 500]) {
            await page.clock.runFor(step);
            steps.push(await shown());
        }
        assert.deepEqual(steps, [['FORMANT', 'formant', 0], ['STOCH', 'stoch', 1], ['SWARM', 'swarm', 2],
            ['FORMANT', 'formant', 0]]);

        // Switched off by the plug-in: FORMANT shown again. Then 150 BPM at 1/16: 100 ms.
        await page.clock.runFor(500);
        assert.equal((await shown())[0], 'STOCH');
        await page.evaluate(() => window._updateParam('mode_cycle_enable', 0));
        assert.deepEqual(await shown(), ['FORMANT', 'formant', 0]);
        await page.evaluate(() => {
            window._updateTransport(150, true);
            window._updateParam('mode_cycle_div', 2 / 3);
            window._updateParam('mode_cycle_enable', 1);
        });
        await page.clock.runFor(90);
        assert.equal((await shown())[0], 'FORMANT');
        await page.clock.runFor(30);
        assert.equal((await shown())[0], 'STOCH');
        await page.click('#toggle-cycle');
        assert.deepEqual(await shown(), ['FORMANT', 'formant', 0]);

        assert.deepEqual(only(await editor.posted(), 'set_param').map((m) => [m.name, m.value]),
            [['mode_cycle_enable', 1], ['mode_cycle_enable', 0]]);
        assert.deepEqual(editor.log.errors, []);
        await page.close();
    });
});

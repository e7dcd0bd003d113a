// The page as a whole: self-contained, laid out at 900 x 600, its starting
// display, the animations running without errors, and a screenshot.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { copyFileSync, mkdirSync } from 'node:fs';
import { join } from 'node:path';
import { launchBrowser, openEditor, ensureArtifactsDir, repoRoot } from './support/harness.mjs';

describe('editor page', () => {
    let browser;
    before(async () => { browser = await launchBrowser(); });
    after(async () => { await browser.close(); });

    it('loads everything from its own text and fills the editor without scrolling', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await page.evaluate(() => document.fonts.ready);
        const facts = await page.evaluate(() => {
            const plate = document.querySelector('.plate').getBoundingClientRect();
            const rows = getComputedStyle(document.querySelector('.plate')).gridTemplateRows.split(' ');
            const img = document.querySelector('.char-texture');
            return {
                title: document.title,
                plate: [plate.width, plate.height],
                rows: [rows[0], rows[2]],
                scroll: [document.documentElement.scrollWidth, document.documentElement.scrollHeight],
                font: document.fonts.check('300 32px "Londrina Solid"'),
                titleFont: getComputedStyle(document.querySelector('.title')).fontFamily,
                texture: [img.complete, img.naturalWidth, img.src.slice(0, 22)],
                tempo: document.getElementById('tempo-display').textContent,
                footer: document.querySelector('.footer').textContent.replace(/\s+/g, ' ').trim()
            };
        });
        assert.deepEqual(editor.log.requests, [browser.pageUrl], 'the page may request nothing but itself');
        assert.equal(facts.title, 'Tessellgrove');
        assert.deepEqual(facts.plate, [900, 600]);
        assert.deepEqual(facts.rows, ['72px', '32px']);
        assert.deepEqual(facts.scroll, [900, 600]);
        assert.equal(facts.font, true, 'the embedded Londrina Solid 300 is available');
        assert.match(facts.titleFont, /^"Londrina Solid"/);
        assert.deepEqual(facts.texture, [true, 128, 'data:image/webp;base64']);
        assert.equal(facts.footer, 'Corvalune 120.0 BPM v0.1.0');
        await page.close();
    });

    it('starts from its own values before the plug-in answers', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        const shown = await page.evaluate(() => {
            const text = (id) => document.querySelector(`#dial-${id} .dial-value`).textContent;
            const hidden = (id) => getComputedStyle(document.getElementById(id)).display === 'none';
            const thumb = document.querySelector('#bar-lock_freq .bar-thumb').style.left;
            return {
                dials: ['input_gain', 'mix', 'output_gain', 'stereo_width', 'char_amount', 'comb_feedback',
                    'comb_tuning', 'comb_mix'].map(text),
                thumb: parseFloat(thumb),
                rowsOff: ['row-freq', 'row-amp'].map((id) => document.getElementById(id).classList.contains('off')),
                toggles: ['toggle-freq', 'toggle-amp', 'toggle-cycle'].map((id) =>
                    document.querySelector(`#${id} .toggle-state`).textContent),
                bars: [hidden('bars-formant'), hidden('bars-stoch'), hidden('bars-swarm')],
                activeMode: document.querySelector('.mode-button.active').textContent,
                fields: ['lock_motion_rate', 'lock_motion_shape', 'trig_div', 'mode_cycle_div'].map((id) =>
                    document.querySelector(`#dd-${id} .dropdown-field`).textContent),
                depth: [document.getElementById('value-lock_motion_depth').textContent,
                    document.getElementById('value-trig_amount').textContent],
                char: [...document.querySelectorAll('.char-box')].map((b) => b.querySelector('.char-state').textContent),
                preset: document.getElementById('preset-name').textContent
            };
        });
        assert.deepEqual(shown.dials, ['+0dB', '50%', '+0dB', '100%', '50%', '0.00', '331 Hz', '0%']);
        assert.ok(Math.abs(shown.thumb - 53.29) < 0.01, `LOCK POINT thumb at 440 Hz, got ${shown.thumb}%`);
        assert.deepEqual(shown.rowsOff, [true, true]);
        assert.deepEqual(shown.toggles, ['OFF', 'OFF', 'OFF']);
        assert.deepEqual(shown.bars, [false, true, true]);
        assert.equal(shown.activeMode, 'FORMANT');
        assert.deepEqual(shown.fields, ['1/4', 'SIN', '1/8', '1/4']);
        assert.deepEqual(shown.depth, ['50%', '0%']);
        assert.deepEqual(shown.char, ['on', 'off', 'off', 'off']);
        assert.equal(shown.preset, 'Init');
        await page.close();
    });

    it('runs its animations for seconds without errors and leaves a screenshot', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        const CANVASES = ['threshold-canvas', 'diffusion-std', 'diffusion-flow', 'diffusion-ord', 'diffusion-sub'];
        // A cheap fingerprint of each canvas: sum of its pixel bytes.
        const fingerprints = () => page.evaluate((ids) => ids.map((id) => {
            const canvas = document.getElementById(id);
            const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
            let sum = 0;
            for (let i = 0; i < data.length; i += 4) sum += data[i] + 3 * data[i + 1] + 7 * data[i + 2];
            return sum;
        }), CANVASES);

        const first = await fingerprints();
        await page.waitForTimeout(3000);
        const later = await fingerprints();
        CANVASES.forEach((id, i) => assert.notEqual(first[i], later[i], `${id} should move`));

        const clouds = await page.evaluate(() => {
            const canvas = document.getElementById('cloud-canvas');
            const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
            let lit = 0;
            for (let i = 0; i < data.length; i += 4) if (data[i] > 240) lit++;
            return { size: [canvas.width, canvas.height], lit };
        });
        assert.deepEqual(clouds.size, [894, 70]);
        assert.ok(clouds.lit > 1000, 'the clouds are drawn lighter than the cream background');

        assert.deepEqual(editor.log.errors, []);
        assert.deepEqual(editor.consoleErrors(), []);

        const shot = join(ensureArtifactsDir(), 'editor.png');
        await page.screenshot({ path: shot });
        if (process.env.TESSELLGROVE_UPDATE_DOCS_SCREENSHOT === '1') {
            mkdirSync(join(repoRoot, 'docs'), { recursive: true });
            copyFileSync(shot, join(repoRoot, 'docs', 'editor.png'));
        }
        await page.close();
    });
});

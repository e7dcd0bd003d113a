// The preset browser and the save dialog.
import { describe, it, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launchBrowser, openEditor, only } from './support/harness.mjs';

const LIST = [
    { name: 'Ambient Wash', is_factory: true },
    { name: 'Init', is_factory: true },
    { name: 'Zed', is_factory: false },
    { name: 'Bass_ Deep', is_factory: false },
    { name: 'A very long user preset name that cannot fit in the selector', is_factory: false }
];

async function sendList(page, list) {
    await page.evaluate((payload) => window._handleCustomMessage('presets_list', payload), JSON.stringify(list));
}

// The rendered browser: per group its title, collapsed flag and entries.
const browserView = (page) => page.evaluate(() => [...document.querySelectorAll('.preset-group')].map((group) => ({
    title: group.querySelector('.preset-group-title').textContent,
    arrow: group.querySelector('.preset-group-arrow').textContent,
    collapsed: group.classList.contains('collapsed'),
    items: [...group.querySelectorAll('.preset-item')].map((item) =>
        item.querySelector('.preset-item-name').textContent +
        (item.querySelector('.preset-delete') ? ' [x]' : '') +
        (item.classList.contains('current') ? ' *' : '')),
    empty: group.querySelector('.preset-empty')?.textContent ?? null
})));

describe('preset browser', () => {
    let browser;
    before(async () => { browser = await launchBrowser(); });
    after(async () => { await browser.close(); });

    it('groups, counts, highlights and collapses the received list', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        assert.deepEqual(await browserView(page), [
            { title: 'USER', arrow: '\u25BC', collapsed: false, items: [], empty: 'No user presets yet' }]);

        await sendList(page, LIST);
        await page.evaluate(() => window._handleCustomMessage('preset_loaded', 'Zed'));
        await page.click('#preset-selector');
        assert.equal(await page.isVisible('#preset-dropdown'), true);
        const expanded = await browserView(page);
        assert.deepEqual(expanded, [
            { title: 'FACTORY', arrow: '\u25BC', collapsed: false, items: ['Ambient Wash', 'Init'], empty: null },
            { title: 'USER (3)', arrow: '\u25BC', collapsed: false,
                items: ['Zed [x] *', 'Bass_ Deep [x]', 'A very long user preset name that cannot fit in the selector [x]'],
                empty: null }
        ]);

        await page.click('.preset-group[data-group="FACTORY"] .preset-group-header');
        assert.equal(await page.isVisible('text=Ambient Wash'), false);
        await sendList(page, LIST);   // the collapsed state survives a new list
        const collapsed = await browserView(page);
        assert.deepEqual(collapsed.map((g) => g.collapsed), [true, false]);
        assert.equal(await page.isVisible('#preset-dropdown'), true, 'group clicks keep the drop-down open');

        await sendList(page, LIST.filter((p) => !p.is_factory));
        assert.deepEqual((await browserView(page)).map((g) => g.title), ['USER (3)'], 'no FACTORY group without factory presets');

        // A long name is cut with an ellipsis in the selector.
        await page.evaluate(() => window._handleCustomMessage('preset_loaded',
            'A very long user preset name that cannot fit in the selector'));
        const cut = await page.evaluate(() => {
            const name = document.getElementById('preset-name');
            return [getComputedStyle(name).textOverflow, name.scrollWidth > name.clientWidth,
                document.getElementById('preset-selector').getBoundingClientRect().width >= 180];
        });
        assert.deepEqual(cut, ['ellipsis', true, true]);
        await page.close();
    });

    it('loads on click, deletes without confirmation, falls back to Init', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        await sendList(page, LIST);
        await page.evaluate(() => window._handleCustomMessage('preset_loaded', 'Zed'));

        await page.click('#preset-selector');
        await page.click('.preset-item:has-text("Ambient Wash")');
        assert.equal(await page.isVisible('#preset-dropdown'), false, 'choosing a preset closes the drop-down');
        await page.click('#preset-selector');
        await page.click('.preset-item:has-text("Bass_ Deep") .preset-delete');
        assert.equal(await page.isVisible('#preset-dropdown'), true);
        await page.mouse.click(450, 300);
        assert.equal(await page.isVisible('#preset-dropdown'), false, 'a click outside closes the drop-down');
        assert.deepEqual(only(await editor.posted(), 'load_preset', 'delete_preset'), [
            { type: 'load_preset', name: 'Ambient Wash', is_factory: true },
            { type: 'delete_preset', name: 'Bass_ Deep' }
        ]);

        await editor.clearPosted();
        await page.evaluate(() => window._handleCustomMessage('preset_deleted', 'Zed'));
        assert.equal(await page.textContent('#preset-name'), 'Init');
        assert.equal(only(await editor.posted(), 'request_presets').length, 2);

        await page.evaluate(() => window._handleCustomMessage('preset_error', 'Preset \'Q\' not found'));
        assert.ok(editor.consoleErrors().some((t) => t.startsWith('Preset error:') && t.includes('Preset \'Q\' not found')));
        await page.close();
    });

    it('save dialog: prefilled and selected, trims, refuses blank names with a red outline', async () => {
        const editor = await openEditor(browser);
        const { page } = editor;
        await editor.ready();
        const dialogOpen = () => page.isVisible('#save-dialog');

        await page.click('#preset-selector');
        await page.click('#preset-save-as');
        assert.equal(await page.isVisible('#preset-dropdown'), false);
        assert.equal(await dialogOpen(), true);
        assert.equal(await page.textContent('.dialog-title'), 'SAVE PRESET');
        assert.equal(await page.inputValue('#save-name'), '', 'empty while the current preset is Init');
        assert.equal(await page.getAttribute('#save-name', 'placeholder'), 'My Preset');

        await page.fill('#save-name', '   ');
        await page.click('#save-confirm');
        assert.equal(await dialogOpen(), true);
        assert.equal(await page.evaluate(() => document.getElementById('save-name').style.outline),
            'rgb(160, 64, 64) solid 2px');
        await page.waitForFunction(() => document.getElementById('save-name').style.outline === '', null,
            { timeout: 3000 });
        await page.press('#save-name', 'Enter');
        assert.equal(await dialogOpen(), true);
        assert.deepEqual(only(await editor.posted(), 'save_preset'), [], 'a blank name sends nothing');

        await page.fill('#save-name', '  My Lead  ');
        await page.press('#save-name', 'Enter');
        assert.equal(await dialogOpen(), false);
        await page.evaluate(() => window._handleCustomMessage('preset_saved', 'My Lead'));
        assert.equal(await page.textContent('#preset-name'), 'My Lead');

        await page.click('#preset-selector');
        await page.click('#preset-save-as');
        const selection = await page.evaluate(() => {
            const input = document.getElementById('save-name');
            return [input.value, input.selectionStart, input.selectionEnd, document.activeElement === input];
        });
        assert.deepEqual(selection, ['My Lead', 0, 7, true]);
        await page.click('#save-confirm');
        await page.click('#preset-selector');
        await page.click('#preset-save-as');
        await page.press('#save-name', 'Escape');
        assert.equal(await dialogOpen(), false);
        await page.click('#preset-selector');
        await page.click('#preset-save-as');
        await page.click('#save-cancel');
        assert.equal(await dialogOpen(), false);

        assert.deepEqual(only(await editor.posted(), 'save_preset'), [
            { type: 'save_preset', name: 'My Lead' }, { type: 'save_preset', name: 'My Lead' }]);
        await page.close();
    });
});

// Shared set-up of the browser tests: the assembled editor page, a headless
// Chromium from the system, and a recording window.ipc.
import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync, mkdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve, dirname } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
export const artifactsDir = resolve(here, '..', 'artifacts');
export const repoRoot = resolve(here, '..', '..', '..');

function buildDir() {
    const dir = process.env.TESSELLGROVE_BUILD_DIR;
    if (!dir) {
        throw new Error('TESSELLGROVE_BUILD_DIR is not set: run ui/tests/run.sh <build-dir>');
    }
    return resolve(dir);
}

// The page as the editor shows it: the editor's own assembly (bridge script
// put into the built page text), printed by the render tool of the build.
// This is the one place that knows where the page comes from.
export function assembledEditorPage() {
    const tool = join(buildDir(), 'tools', 'tessellgrove-render');
    if (!existsSync(tool)) {
        throw new Error(`${tool} is missing: build the tessellgrove-render target first`);
    }
    return execFileSync(tool, ['--print-editor-page'], { encoding: 'utf8', maxBuffer: 64 * 1024 * 1024 });
}

const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'];

// One headless Chromium with a fresh profile; the page file lives in the
// profile's temporary directory.
export async function launchBrowser() {
    const profile = mkdtempSync(join(tmpdir(), 'tessellgrove-ui-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: '/usr/bin/chromium',
        headless: true,
        args: CHROMIUM_ARGS,
        viewport: { width: 900, height: 600 }
    });
    const pageFile = join(profile, 'editor.html');
    writeFileSync(pageFile, assembledEditorPage());
    return {
        context,
        pageUrl: pathToFileURL(pageFile).href,
        async close() {
            await context.close();
            rmSync(profile, { recursive: true, force: true });
        }
    };
}

// Runs before any page script: window.ipc records every posted text.
function installRecordingIpc() {
    window.__posted = [];
    window.ipc = { postMessage: (text) => { window.__posted.push(text); } };
}

// Opens the editor page in a new tab with a recording window.ipc (not yet
// ready: the test calls window._ipcReady() when it wants the link up).
// Returns the page with everything it logged and requested.
export async function openEditor(browser, { ipc = true } = {}) {
    const page = await browser.context.newPage();
    const log = { console: [], errors: [], requests: [] };
    page.on('console', (message) => log.console.push({ type: message.type(), text: message.text() }));
    page.on('pageerror', (error) => log.errors.push(String(error)));
    page.on('request', (request) => log.requests.push(request.url()));
    if (ipc) await page.addInitScript(installRecordingIpc);
    await page.goto(browser.pageUrl, { waitUntil: 'load' });
    return {
        page,
        log,
        // Texts posted so far, each parsed.
        posted: async () => (await page.evaluate(() => window.__posted)).map((text) => JSON.parse(text)),
        postedTexts: () => page.evaluate(() => window.__posted.slice()),
        clearPosted: () => page.evaluate(() => { window.__posted.length = 0; }),
        consoleErrors: () => log.console.filter((m) => m.type === 'error').map((m) => m.text),
        // Link up and forget what the start-up flushed.
        async ready() {
            await page.evaluate(() => { window._ipcReady(); window.__posted.length = 0; });
        }
    };
}

// Messages of the given types only (drops the 50 ms polls and transport requests).
export function only(messages, ...types) {
    return messages.filter((m) => types.includes(m.type));
}

export function withoutPolls(messages) {
    return messages.filter((m) => m.type !== 'poll_messages' && m.type !== 'request_transport');
}

export function ensureArtifactsDir() {
    mkdirSync(artifactsDir, { recursive: true });
    return artifactsDir;
}

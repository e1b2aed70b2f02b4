// Real-browser sign-in: headless Chromium signs in on the local font service,
// the kernwell:// callback the page produces goes through xdg-open and the
// installed URL-scheme handler to the running kernwell, then a style added on
// the library page must show up in fc-list and as "Added …" in kernwell.
//
// Runs inside a private D-Bus session with HOME and XDG_* pointing into a
// sandbox (see browser-signin.sh). Environment:
//   KERNWELL_PREFIX   where kernwell and kernwell-localservice are installed
//   E2E_SANDBOX       the sandbox folder (logs, browser profile, fonts)
//   E2E_SCREENSHOTS   where the page screenshots are kept
import { chromium } from 'playwright-core';
import { execFile, spawn } from 'node:child_process';
import { copyFileSync, mkdirSync, readFileSync, writeFileSync, createWriteStream } from 'node:fs';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

const run = promisify(execFile);
const prefix = requiredEnv('KERNWELL_PREFIX');
const sandbox = requiredEnv('E2E_SANDBOX');
const screenshots = requiredEnv('E2E_SCREENSHOTS');
const dataHome = requiredEnv('XDG_DATA_HOME');
const bundleId = 'org.kernwell.Kernwell';
const sessionPath = '/org/kernwell/Kernwell/Session';
const email = 'grace+e2e@example.org';
const stepTimeoutMs = 20000;
const logs = join(sandbox, 'logs');

function requiredEnv(name) {
    const value = process.env[name];
    if (!value) {
        throw new Error(`${name} is not set: run this test through browser-signin.sh`);
    }
    return value;
}

const children = [];
function start(name, command, args, options = {}) {
    const child = spawn(command, args, { stdio: ['pipe', 'pipe', 'pipe'], ...options });
    children.push(child);
    child.stderr.pipe(createWriteStream(join(logs, `${name}.log`)));
    child.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
    child.on('error', (error) => console.error(`${name}: ${error.message}`));
    return child;
}

function stopAll() {
    for (const child of children.reverse()) {
        if (child.exitCode === null && child.signalCode === null) {
            child.kill('SIGTERM');
        }
    }
}

function step(text) {
    console.log(`[${((Date.now() - startedAt) / 1000).toFixed(1)} s] ${text}`);
}

// Polls `probe` until it returns a truthy value; fails with `what` after the step timeout.
async function waitFor(what, probe, timeoutMs = stepTimeoutMs) {
    const deadline = Date.now() + timeoutMs;
    let last;
    for (;;) {
        try {
            last = await probe();
            if (last) {
                return last;
            }
        } catch (error) {
            last = error.message;
        }
        if (Date.now() > deadline) {
            throw new Error(`${what} did not happen within ${timeoutMs / 1000} s${last ? ` (last seen: ${last})` : ''}`);
        }
        await new Promise((resolve) => setTimeout(resolve, 200));
    }
}

async function dbus(...args) {
    const { stdout } = await run('dbus-send', ['--session', '--print-reply', ...args]);
    return stdout;
}

async function busHasOwner(name) {
    const reply = await dbus('--dest=org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus.NameHasOwner', `string:${name}`);
    return reply.includes('boolean true');
}

// The running kernwell's exported session view, or null when it exports none.
async function sessionProperty(name) {
    try {
        return await dbus(`--dest=${bundleId}`, sessionPath, 'org.freedesktop.DBus.Properties.Get',
            `string:${bundleId}.Session`, `string:${name}`);
    } catch {
        return null;
    }
}

// "title: body" (or the one text when both are the same) of every Notify call the monitor saw.
function notifications(monitorOutput) {
    const lines = [];
    for (const call of monitorOutput.split(/^method call /m).slice(1)) {
        if (!/member=Notify\b/.test(call.split('\n', 1)[0])) {
            continue;
        }
        const strings = [...call.matchAll(/^\s+string "(.*)"$/gm)].map((match) => match[1]);
        if (strings.length >= 4) {
            lines.push(strings[2] === strings[3] ? strings[3] : `${strings[2]}: ${strings[3]}`);
        }
    }
    return lines;
}

async function syncedFonts() {
    const { stdout } = await run('fc-list', ['--format', '%{family[0]} %{style[0]}\t%{file}\n']);
    return stdout.split('\n').filter((line) => line.includes(`\t${dataHome}/`));
}

async function serviceState(baseUrl) {
    const response = await fetch(`${baseUrl}/_control/state?email=${encodeURIComponent(email)}`,
        { headers: { 'Content-Type': 'application/json' } });
    return response.ok ? response.json() : null;
}

const startedAt = Date.now();
let currentPage = null;

async function main() {
    mkdirSync(logs, { recursive: true });
    mkdirSync(screenshots, { recursive: true });

    // A throwaway login keyring: an empty line creates it unlocked.
    const keyring = start('keyring', 'gnome-keyring-daemon', ['--foreground', '--unlock', '--components=secrets']);
    keyring.stdin.end('\n');
    keyring.stdout.resume();
    await waitFor('the throwaway keyring', () => busHasOwner('org.freedesktop.secrets'));

    // No notification server runs here; the monitor sees kernwell's Notify calls all the same.
    const monitor = start('dbus-monitor', 'dbus-monitor', ['--session', '--monitor',
        "type='method_call',interface='org.freedesktop.Notifications',member='Notify'"]);
    let monitorOutput = '';
    monitor.stdout.on('data', (chunk) => { monitorOutput += chunk; });

    const catalogDir = join(sandbox, 'catalog');
    mkdirSync(catalogDir, { recursive: true });
    // The repository's own typeface, not the machine's fonts.
    const typefaces = fileURLToPath(new URL('../../resources/typefaces/', import.meta.url));
    for (const font of ['LiberationSans-Regular.ttf', 'LiberationSans-Bold.ttf', 'LiberationSans-Italic.ttf']) {
        copyFileSync(join(typefaces, font), join(catalogDir, font));
    }
    const service = start('service', join(prefix, 'bin/kernwell-localservice'),
        ['--control', '--port', '0', '--fonts-dir', catalogDir, '--data-dir', join(sandbox, 'service')]);
    const baseUrl = await waitFor('the local font service to print its URL', () => new Promise((resolve, reject) => {
        service.stdout.once('data', (chunk) => resolve(chunk.toString().split('\n')[0].trim()));
        service.exited.then(({ code }) => reject(new Error(`the local font service ended with ${code}`)));
    }));
    service.stdout.resume();
    step(`local font service at ${baseUrl}`);

    // The installed bundle's configuration, pointed at this service.
    const plist = join(prefix, 'share/kernwell/Info.plist');
    writeFileSync(plist, readFileSync(plist, 'utf8').replaceAll('127.0.0.1:47800', new URL(baseUrl).host));

    // The installed entry handles kernwell: links for the sandbox's user. It
    // was configured for another prefix, so its Exec is pointed here.
    const entryName = `${bundleId}.desktop`;
    const installedEntry = readFileSync(join(prefix, 'share/applications', entryName), 'utf8');
    mkdirSync(join(dataHome, 'applications'), { recursive: true });
    writeFileSync(join(dataHome, 'applications', entryName),
        installedEntry.replace(/^Exec=\S+/m, `Exec=${join(prefix, 'bin/kernwell')}`));
    await run('xdg-mime', ['default', entryName, 'x-scheme-handler/kernwell']);
    const { stdout: handler } = await run('xdg-mime', ['query', 'default', 'x-scheme-handler/kernwell']);
    if (handler.trim() !== entryName) {
        throw new Error(`xdg-mime registered "${handler.trim()}" for kernwell: links, not ${entryName}`);
    }

    const kernwell = start('kernwell', join(prefix, 'bin/kernwell'), [], { env: { ...process.env, QT_QPA_PLATFORM: 'offscreen' } });
    kernwell.stdout.resume();
    kernwell.exited.then(({ code, signal }) => {
        if (!stopping) {
            console.error(`kernwell ended early (code ${code}, signal ${signal}); see ${logs}/kernwell.log`);
        }
    });
    await waitFor(`kernwell to own ${bundleId}`, () => busHasOwner(bundleId));
    step('kernwell is running (offscreen)');
    const exportsSession = (await sessionProperty('ConnectionState')) !== null;

    const browser = await chromium.launchPersistentContext(join(sandbox, 'chromium-profile'), {
        executablePath: '/usr/bin/chromium',
        headless: true,
        viewport: { width: 1100, height: 900 },
        args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
            '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    });
    try {
        const page = browser.pages()[0] ?? await browser.newPage();
        currentPage = page;
        // The page sends the browser to the kernwell:// callback; record that
        // request rather than leaving it to the browser's own protocol handling.
        const callbacks = [];
        await page.route(/^kernwell:/, (route) => { callbacks.push(route.request().url()); return route.abort(); });
        page.on('request', (request) => {
            if (request.url().startsWith('kernwell:') && !callbacks.includes(request.url())) {
                callbacks.push(request.url());
            }
        });

        await page.goto(`${baseUrl}/signin`);
        await page.screenshot({ path: join(screenshots, '01-signin.png'), fullPage: true });
        await page.fill('#email', email);
        await page.click('#submit');
        await page.waitForSelector('#callback');
        await page.screenshot({ path: join(screenshots, '02-signed-in.png'), fullPage: true });
        const shown = await page.getAttribute('#callback', 'href');
        const callback = callbacks[0] ?? shown;
        const url = new URL(callback);
        if (url.protocol !== 'kernwell:' || url.host !== 'desktop' || url.pathname !== '/authorize'
            || !url.searchParams.get('token') || url.searchParams.get('email') !== email) {
            throw new Error(`the sign-in page produced an unexpected callback: ${callback}`);
        }
        step(`the page produced the callback (${callbacks.length ? 'intercepted navigation' : 'read from #callback'})`);

        await run('xdg-open', [callback], { timeout: stepTimeoutMs });
        step('xdg-open handed the callback to the URL-scheme handler');
        await waitFor('kernwell to open its sync connection', async () => (await serviceState(baseUrl))?.openSockets >= 1);
        if (exportsSession) {
            await waitFor('the tray state SignedIn', async () => (await sessionProperty('ConnectionState'))?.includes('"SignedIn"'));
            // The "+" of the address arrives percent-encoded and must not turn into a space.
            const username = await sessionProperty('Username');
            if (!username.includes(`"${email}"`)) {
                throw new Error(`kernwell signed in as ${username.trim()}, not ${email}`);
            }
        }
        step('kernwell signed in and connected');

        // A fresh tab: the sign-in tab's intercepted navigation leaves its forms unsubmittable.
        const library = await browser.newPage();
        currentPage = library;
        await library.goto(`${baseUrl}/library`);
        const addButton = library.locator('button[id^="add-"]').first();
        const styleId = (await addButton.getAttribute('id')).slice('add-'.length);
        await library.screenshot({ path: join(screenshots, '03-library.png'), fullPage: true });
        await addButton.click();
        const note = (await library.locator('#note').textContent({ timeout: stepTimeoutMs })).trim();
        await library.screenshot({ path: join(screenshots, '04-library-added.png'), fullPage: true });
        step(`library page: ${note}`);
        if (!/^Added .* — sent to 1 open Kernwell connection\.$/.test(note)) {
            throw new Error(`the library page did not reach the one open connection: "${note}"`);
        }

        const font = await waitFor(`${styleId} in fc-list`, async () => (await syncedFonts()).find((line) => line.includes(`/${styleId}`)));
        step(`fc-list: ${font.replace('\t', '  ')}`);
        const added = await waitFor('the notification "Added …"',
            () => notifications(monitorOutput).find((line) => /(^|: )Added /.test(line)));
        step(`notification: ${added}`);
        if (exportsSession) {
            const lines = await waitFor('"Added …" in the notification list', async () => {
                const reply = await sessionProperty('Notifications');
                return reply?.includes('"Added ') ? reply : null;
            });
            step(`notification list: ${lines.match(/"Added [^"]*"/)[0]}`);
        } else {
            step('kernwell exports no session view: tray state and notification list not checked');
        }
    } catch (error) {
        if (currentPage) {
            await currentPage.screenshot({ path: join(screenshots, 'failure.png'), fullPage: true }).catch(() => {});
            error.message += `\n  the browser was at ${currentPage.url()} (screenshot failure.png)`;
        }
        throw error;
    } finally {
        await browser.close();
    }
}

let stopping = false;
try {
    await main();
    step(`passed; screenshots in ${screenshots}`);
} catch (error) {
    console.error(`FAILED: ${error.message}`);
    process.exitCode = 1;
} finally {
    stopping = true;
    stopAll();
}

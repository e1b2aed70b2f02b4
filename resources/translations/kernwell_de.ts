<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Kernwell</name>
    <message>
        <source>Keeps your fonts in step with your Kernwell library.</source>
        <translation>Hält Ihre Schriften im Einklang mit Ihrer Kernwell-Bibliothek.</translation>
    </message>
    <message>
        <source>Tell whom the running Kernwell is signed in as, its connection, error, fonts and latest notification.</source>
        <translation>Zeigt, als wer der laufende Kernwell angemeldet ist, seine Verbindung, seinen Fehler, seine Schriften und die neueste Mitteilung.</translation>
    </message>
    <message>
        <source>List the synced fonts: family, style, font id, file.</source>
        <translation>Listet die synchronisierten Schriften auf: Familie, Schnitt, Schrift-ID, Datei.</translation>
    </message>
    <message>
        <source>With --list: as JSON.</source>
        <translation>Mit --list: als JSON.</translation>
    </message>
    <message>
        <source>Sign the running Kernwell out, as Log out does.</source>
        <translation>Meldet den laufenden Kernwell ab, wie „Abmelden“.</translation>
    </message>
    <message>
        <source>Quit the running Kernwell.</source>
        <translation>Beendet den laufenden Kernwell.</translation>
    </message>
    <message>
        <source>kernwell: give one of --status, --list [--json], --sign-out, --quit, alone.</source>
        <translation>kernwell: Geben Sie genau eine der Optionen --status, --list [--json], --sign-out, --quit an, ohne weitere.</translation>
    </message>
    <message>
        <source>kernwell: URLs to hand to Kernwell (the browser&apos;s sign-in callback).</source>
        <translation>kernwell:-Adressen, die an Kernwell übergeben werden (die Rückmeldung der Anmeldung im Browser).</translation>
    </message>
    <message>
        <source>kernwell: configuration error: %1</source>
        <translation>kernwell: Konfigurationsfehler: %1</translation>
    </message>
    <message>
        <source>kernwell: cannot reach the running Kernwell: %1</source>
        <translation>kernwell: Das laufende Kernwell ist nicht erreichbar: %1</translation>
    </message>
    <message>
        <source>Kernwell did not start</source>
        <translation>Kernwell wurde nicht gestartet</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
    <message>
        <source>A new version of Kernwell is available.</source>
        <translation>Eine neue Version von Kernwell ist verfügbar.</translation>
    </message>
    <message>
        <source>Version %1 (%2) is now available.</source>
        <translation>Version %1 (%2) ist jetzt verfügbar.</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>You&apos;re up to date!</source>
        <translation>Kernwell ist auf dem neuesten Stand!</translation>
    </message>
    <message>
        <source>Kernwell %1 is currently the newest version available.</source>
        <translation>Kernwell %1 ist die neueste verfügbare Version.</translation>
    </message>
    <message>
        <source>Update Error!</source>
        <translation>Fehler bei der Aktualisierung!</translation>
    </message>
</context>
<context>
    <name>RemoteCommands</name>
    <message>
        <source>signed out</source>
        <translation>abgemeldet</translation>
    </message>
    <message>
        <source>updating fonts</source>
        <translation>Schriften werden aktualisiert</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>unterbrochen</translation>
    </message>
    <message>
        <source>connected</source>
        <translation>verbunden</translation>
    </message>
    <message>
        <source>Kernwell is not running.</source>
        <translation>Kernwell läuft nicht.</translation>
    </message>
    <message>
        <source>kernwell: Kernwell did not answer: %1</source>
        <translation>kernwell: Kernwell hat nicht geantwortet: %1</translation>
    </message>
    <message>
        <source>kernwell: Kernwell answered with a list this version cannot read.</source>
        <translation>kernwell: Kernwell hat mit einer Liste geantwortet, die diese Version nicht lesen kann.</translation>
    </message>
    <message>
        <source>Signed in as %1</source>
        <translation>Angemeldet als %1</translation>
    </message>
    <message>
        <source>Signed out</source>
        <translation>Abgemeldet</translation>
    </message>
    <message>
        <source>Connection: %1</source>
        <translation>Verbindung: %1</translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation>Fehler: %1</translation>
    </message>
    <message>
        <source>Fonts: %1 (%2)</source>
        <translation>Schriften: %1 (%2)</translation>
    </message>
    <message>
        <source>Latest notification: %1</source>
        <translation>Neueste Mitteilung: %1</translation>
    </message>
    <message>
        <source>Not signed in.</source>
        <translation>Nicht angemeldet.</translation>
    </message>
    <message>
        <source>kernwell: the sign-out has not finished yet.</source>
        <translation>kernwell: Die Abmeldung ist noch nicht abgeschlossen.</translation>
    </message>
    <message>
        <source>Signed out.</source>
        <translation>Abgemeldet.</translation>
    </message>
    <message>
        <source>kernwell: Kernwell has not quit yet.</source>
        <translation>kernwell: Kernwell wurde noch nicht beendet.</translation>
    </message>
</context>
<context>
    <name>ServiceError</name>
    <message>
        <source>The service refused the sign-in.</source>
        <translation>Der Dienst hat die Anmeldung abgelehnt.</translation>
    </message>
    <message>
        <source>The service could not be reached.</source>
        <translation>Der Dienst war nicht erreichbar.</translation>
    </message>
    <message>
        <source>The font file was not found on the service.</source>
        <translation>Die Schriftdatei wurde beim Dienst nicht gefunden.</translation>
    </message>
    <message>
        <source>The service answered with an error (status %1).</source>
        <translation>Der Dienst antwortete mit einem Fehler (Status %1).</translation>
    </message>
</context>
<context>
    <name>kernwell::AppDelegate</name>
    <message>
        <source>A new update is available.</source>
        <translation>Ein neues Update ist verfügbar.</translation>
    </message>
    <message>
        <source>Version %1 (%2) is now available.</source>
        <translation>Version %1 (%2) ist jetzt verfügbar.</translation>
    </message>
</context>
<context>
    <name>kernwell::Appcast</name>
    <message>
        <source>The update feed is not well-formed XML: %1</source>
        <translation>Der Update-Feed ist kein wohlgeformtes XML: %1</translation>
    </message>
    <message>
        <source>The update feed is not an RSS feed.</source>
        <translation>Der Update-Feed ist kein RSS-Feed.</translation>
    </message>
</context>
<context>
    <name>kernwell::Avatar</name>
    <message>
        <source>Kernwell User</source>
        <translation>Kernwell-Nutzer</translation>
    </message>
</context>
<context>
    <name>kernwell::ContentView</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
    <message>
        <source>Sign in to Kernwell</source>
        <translation>Bei Kernwell anmelden</translation>
    </message>
    <message>
        <source>Unable to sign in, please try again.</source>
        <translation>Anmeldung fehlgeschlagen, bitte versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Contact support.</source>
        <translation>Support kontaktieren.</translation>
    </message>
    <message>
        <source>No Account?</source>
        <translation>Kein Konto?</translation>
    </message>
    <message>
        <source>Sign Up.</source>
        <translation>Registrieren.</translation>
    </message>
    <message>
        <source>Check for updates.</source>
        <translation>Nach Updates suchen.</translation>
    </message>
    <message>
        <source>Welcome to Kernwell</source>
        <translation>Willkommen bei Kernwell</translation>
    </message>
    <message>
        <source>Kernwell in the system tray</source>
        <translation>Kernwell im Systembereich</translation>
    </message>
    <message>
        <source>Find, sync, and test fonts with ease — access Kernwell in the system tray whenever you need it.</source>
        <translation>Schriften mühelos finden, synchronisieren und testen — Kernwell ist jederzeit im Systembereich für Sie da.</translation>
    </message>
    <message>
        <source>You are now logged in. Close the window to continue.</source>
        <translation>Sie sind jetzt angemeldet. Schließen Sie das Fenster, um fortzufahren.</translation>
    </message>
</context>
<context>
    <name>kernwell::DataFolderLock</name>
    <message>
        <source>Kernwell cannot lock its data folder “%1”: %2. It stops without touching any font.</source>
        <translation>Kernwell kann seinen Datenordner „%1“ nicht sperren: %2. Es beendet sich, ohne eine Schrift anzurühren.</translation>
    </message>
    <message>
        <source>Kernwell is already running for the data folder “%1”%2, in another login or without a session bus to reach it by. This one stops without touching any font; quit the other to use this one.</source>
        <translation>Kernwell läuft bereits für den Datenordner „%1“%2, in einer anderen Anmeldung oder ohne Sitzungsbus, über den es erreichbar wäre. Dieses beendet sich, ohne eine Schrift anzurühren; beenden Sie das andere, um dieses zu verwenden.</translation>
    </message>
</context>
<context>
    <name>kernwell::FontsDelegate</name>
    <message>
        <source>No preview</source>
        <translation>Keine Vorschau</translation>
    </message>
</context>
<context>
    <name>kernwell::FontsModel</name>
    <message>
        <source>Families: %1, styles: %2, on disk: %3</source>
        <translation>Familien: %1, Schnitte: %2, auf dem Datenträger: %3</translation>
    </message>
    <message>
        <source>In use by %1</source>
        <translation>Verwendet von %1</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>kernwell::FontsWindow</name>
    <message>
        <source>Fonts on this computer</source>
        <translation>Schriften auf diesem Computer</translation>
    </message>
    <message>
        <source>Search families and styles</source>
        <translation>Familien und Schnitte suchen</translation>
    </message>
    <message>
        <source>Search fonts</source>
        <translation>Schriften suchen</translation>
    </message>
    <message>
        <source>Type a sample text</source>
        <translation>Mustertext eingeben</translation>
    </message>
    <message>
        <source>Sample text</source>
        <translation>Mustertext</translation>
    </message>
    <message>
        <source>Fonts</source>
        <translation>Schriften</translation>
    </message>
    <message>
        <source>No fonts are synced to this computer.</source>
        <translation>Auf diesem Computer sind keine Schriften synchronisiert.</translation>
    </message>
    <message>
        <source>No family or style matches “%1”.</source>
        <translation>Keine Familie und kein Schnitt passt zu „%1“.</translation>
    </message>
</context>
<context>
    <name>kernwell::GlyphdeckMacOS</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
    <message>
        <source>Open Kernwell</source>
        <translation>Kernwell öffnen</translation>
    </message>
</context>
<context>
    <name>kernwell::ImageButton</name>
    <message>
        <source>Browse fonts</source>
        <translation>Schriften entdecken</translation>
    </message>
    <message>
        <source>Sign in with your browser</source>
        <translation>Im Browser anmelden</translation>
    </message>
</context>
<context>
    <name>kernwell::MacOSNetworkWatcher</name>
    <message>
        <source>Closing the connection to the font service</source>
        <translation>Die Verbindung zum Schriftendienst wird geschlossen</translation>
    </message>
</context>
<context>
    <name>kernwell::MacOSProvider</name>
    <message>
        <source>Unable to connect.</source>
        <translation>Keine Verbindung möglich.</translation>
    </message>
    <message>
        <source>The keyring is locked. Kernwell will sign in when you unlock it.</source>
        <translation>Der Schlüsselbund ist gesperrt. Kernwell meldet sich an, sobald Sie ihn entsperren.</translation>
    </message>
    <message>
        <source>Unable to sign in.</source>
        <translation>Anmeldung nicht möglich.</translation>
    </message>
    <message>
        <source>the catalogue gives no download link for it.</source>
        <translation>der Katalog nennt keinen Download-Link dafür.</translation>
    </message>
    <message>
        <source>its id can&apos;t be used as a file name.</source>
        <translation>ihre Kennung taugt nicht als Dateiname.</translation>
    </message>
    <message>
        <source>Couldn&apos;t add %1: %2</source>
        <translation>%1 konnte nicht hinzugefügt werden: %2</translation>
    </message>
    <message>
        <source>Couldn&apos;t remove %1: %2</source>
        <translation>%1 konnte nicht entfernt werden: %2</translation>
    </message>
    <message>
        <source>Couldn&apos;t add %1: %2 It will be tried again at the next connection.</source>
        <translation>%1 konnte nicht hinzugefügt werden: %2 Bei der nächsten Verbindung wird es erneut versucht.</translation>
    </message>
    <message>
        <source>%1 is also installed on this computer; applications may use either copy.</source>
        <translation>%1 ist auch auf diesem Computer installiert; Programme können jede der beiden Kopien verwenden.</translation>
    </message>
    <message>
        <source>Unknown Font</source>
        <translation>Unbekannte Schrift</translation>
    </message>
    <message>
        <source>You are still signed in as %1.</source>
        <translation>Sie sind weiterhin als %1 angemeldet.</translation>
    </message>
    <message>
        <source>The sign-in link has expired.</source>
        <translation>Der Anmeldelink ist abgelaufen.</translation>
    </message>
    <message>
        <source>Kernwell could not read which account its fonts belong to; they are kept.</source>
        <translation>Kernwell konnte nicht lesen, zu welchem Konto seine Schriften gehören; sie bleiben erhalten.</translation>
    </message>
    <message>
        <source>The sign-in link could not be used.</source>
        <translation>Der Anmeldelink konnte nicht verwendet werden.</translation>
    </message>
    <message>
        <source>The service could not be reached. %1</source>
        <translation>Der Dienst war nicht erreichbar. %1</translation>
    </message>
    <message>
        <source>Offline. Kernwell will reconnect when the network is back.</source>
        <translation>Offline. Kernwell verbindet sich wieder, sobald das Netzwerk zurück ist.</translation>
    </message>
</context>
<context>
    <name>kernwell::MenuBarExtra</name>
    <message>
        <source>Kernwell keeps running without an icon, because this desktop shows no tray icons. Launch Kernwell again to open its window, or turn on a tray extension (on GNOME: AppIndicator) to get the icon.</source>
        <translation>Kernwell läuft ohne Symbol weiter, weil diese Arbeitsumgebung keine Symbole im Systembereich zeigt. Starten Sie Kernwell erneut, um sein Fenster zu öffnen, oder schalten Sie eine Erweiterung für den Systembereich ein (unter GNOME: AppIndicator), um das Symbol zu erhalten.</translation>
    </message>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
</context>
<context>
    <name>kernwell::MenuBarPopup</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
</context>
<context>
    <name>kernwell::MenuBarWindow</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
</context>
<context>
    <name>kernwell::NotificationList</name>
    <message>
        <source>Notifications</source>
        <translation>Benachrichtigungen</translation>
    </message>
</context>
<context>
    <name>kernwell::NotificationRow</name>
    <message>
        <source>%1: %2</source>
        <comment>a notification&apos;s kind, then its text</comment>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Aktualisierung</translation>
    </message>
</context>
<context>
    <name>kernwell::NotificationSummary</name>
    <message>
        <source>%1 and 1 other</source>
        <translation>%1 und 1 weitere</translation>
    </message>
    <message>
        <source>%1 and %2 others</source>
        <translation>%1 und %2 weitere</translation>
    </message>
    <message>
        <source>Something has gone wrong</source>
        <translation>Etwas ist schiefgegangen</translation>
    </message>
    <message>
        <source>Added %1</source>
        <translation>Hinzugefügt: %1</translation>
    </message>
    <message>
        <source>Removed %1</source>
        <translation>Entfernt: %1</translation>
    </message>
</context>
<context>
    <name>kernwell::QtToolkit</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
</context>
<context>
    <name>kernwell::SessionModel</name>
    <message>
        <source>Adding %1 of %2 fonts…</source>
        <translation>%1 von %2 Schriften werden hinzugefügt…</translation>
    </message>
    <message>
        <source>Retrying in %1 seconds...</source>
        <translation>Neuer Versuch in %1 Sekunden...</translation>
    </message>
</context>
<context>
    <name>kernwell::SignedInView</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Benachrichtigungen</translation>
    </message>
    <message>
        <source>Clear notifications</source>
        <translation>Benachrichtigungen löschen</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>If this error persists, contact support.</source>
        <translation>Wenn der Fehler bestehen bleibt, kontaktieren Sie den Support.</translation>
    </message>
</context>
<context>
    <name>kernwell::SignedOutView</name>
    <message>
        <source>Kernwell</source>
        <translation>Kernwell</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>No account?</source>
        <translation>Kein Konto?</translation>
    </message>
    <message>
        <source>Sign Up.</source>
        <translation>Registrieren.</translation>
    </message>
    <message>
        <source>Check for updates.</source>
        <translation>Nach Updates suchen.</translation>
    </message>
</context>
<context>
    <name>kernwell::UpdaterController</name>
    <message>
        <source>The update feed answered with HTTP status %1.</source>
        <translation>Der Update-Feed antwortete mit dem HTTP-Status %1.</translation>
    </message>
    <message>
        <source>No update feed is configured.</source>
        <translation>Es ist kein Update-Feed eingerichtet.</translation>
    </message>
    <message>
        <source>Unable to check for updates. %1</source>
        <translation>Die Suche nach Updates ist fehlgeschlagen. %1</translation>
    </message>
</context>
<context>
    <name>kernwell::UserModal</name>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>My library</source>
        <translation>Meine Bibliothek</translation>
    </message>
    <message>
        <source>Fonts on this computer</source>
        <translation>Schriften auf diesem Computer</translation>
    </message>
    <message>
        <source>Contact support</source>
        <translation>Support kontaktieren</translation>
    </message>
    <message>
        <source>Log out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Check for updates</source>
        <translation>Nach Updates suchen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
</context>
</TS>

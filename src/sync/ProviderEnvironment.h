#pragma once

#include "api/UrlSession.h"
#include "api/keyring/KeyringUnlockWatcher.h"
#include "fonts/HTTPDataDownloader.h"
#include "fonts/MacOSFontManager.h"
#include "fonts/QorFileManager.h"
#include "sync/NetworkWatcher.h"

#include <QString>

#include <chrono>
#include <memory>

namespace kernwell {

// What the provider takes from its surroundings besides its four constructor
// arguments. Every member has a production default; tests replace them.
struct ProviderEnvironment {
    // The process-wide session for the API and the font downloads; null: a
    // new network session.
    std::shared_ptr<UrlSession> urlSession;
    // Font downloads; null: the session's downloads.
    std::shared_ptr<HTTPDataDownloader> downloader;
    // Existence test and creation of the font folder; null: the real file system.
    std::shared_ptr<QorFileManager> fileManager;
    // The desktop's news of the network and of suspend (the application's
    // lives above this layer); null: none, the network counts as present.
    std::shared_ptr<NetworkWatcher> network;
    // Tells when the keyring is unlocked, so that credentials a locked keyring
    // kept at the start are loaded then; null: the one of the session bus.
    std::shared_ptr<KeyringUnlockWatcher> keyringUnlocks;
    // How long one second of waiting (back-off, ping interval, success display) lasts.
    std::chrono::milliseconds secondLength { std::chrono::seconds(1) };
    // Names the application's folders. Must not be empty.
    QString identifier = QStringLiteral(KERNWELL_BUNDLE_IDENTIFIER);
    // The bundle's "CFBundleVersion". Must not be empty.
    QString build;
    MacOSFontManager::RegistrationScope registrationScope = MacOSFontManager::RegistrationScope::systemWide;
};

} // namespace kernwell

// Bringing the media library up at host start-up and down at shutdown.
//
// The plug-in shares one media library root between all files of the process
// (library::ProcessMediaLibrary). The host's start-up hook initialises COM on
// its own thread, keeps it initialised until shutdown, and tries to create the
// root; when that fails (library not installed), the component stays
// registered and every later open tries again through EnsureMediaLibrary. The
// shutdown hook releases the root and balances the start-up COM
// initialisation.
#pragma once

#include "host/sdk/component.h"
#include "library/media_library.h"

namespace corvina {

// The process-wide root, created first if it is missing (its creation
// balances its own COM initialisation). Returns the root without a new
// reference (it lives until the host's shutdown hook), or null when the
// library cannot be created. Creations from several threads are serialised,
// so the root is never created twice nor read while it is being made.
MediaLibrary* EnsureMediaLibrary();

class CInitQuit : public initquit {
  public:
    // CoInitialize on the calling thread (success remembered), then the root
    // is created unless it exists. A missing library is not reported here.
    void on_init() override;
    // Releases and empties the root, then CoUninitialize when on_init's
    // CoInitialize succeeded.
    void on_quit() override;

    // Whether on_init's own CoInitialize succeeded (and is still to be balanced).
    bool com_initialized() const { return m_com_initialized; }

  private:
    bool m_com_initialized = false;
};

}  // namespace corvina

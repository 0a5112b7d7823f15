// The files a chain of commands names, settled before any phone is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "station/ChainStep.h"
#include "station/PhoneChain.h"

namespace norvale {

// With --dir the working folder changes; a name typed on the command line keeps meaning what it
// meant where the command was typed.
void anchorToTypedFolder(std::string& path);

// Where a station's phone keeps its own flash, saved before a restore writes over it.
inline constexpr const char* kSavedBeforeRestoreFolder = "before-restore";

// Reads each write's image whole, and a restore's three from its backup folder, in the order of
// the commands: one copy for the whole run, shared by its sessions. The first image that can't be
// read, is not the one its write's pin names, is shorter than its write, or a backup folder that
// can't be restored, is refused.
std::optional<Message> loadChainImages(FileSystem& files, const std::vector<ChainStep>& steps,
                                       std::vector<SharedImage>& images);

// Every file the chain will create, in order. A read without -o gets the dialog's name in
// `folder` (left to the read itself when the dialog would refuse that name), a write's --backup
// and a read's -o are taken in `folder`, a backup without DIR gets `backupFolder`, and a restore
// that saves the phone first gets kSavedBeforeRestoreFolder in `folder` (a station's phone) or,
// with no `folder`, a new folder beside its backup folder (never one `files` already has or the
// chain names before); all of these names are written into the steps.
std::vector<std::string> settleChainOutputs(std::vector<ChainStep>& steps,
                                            const std::string& folder,
                                            const std::string& backupFolder, FileSystem& files);

}  // namespace norvale

// The files a chain of commands names, settled before any phone is touched.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/PhoneChain.h"
#include "cli/StationRefusal.h"
#include "platform/FileSystem.h"

namespace norvale {

// With --dir the working folder changes; a name typed on the command line keeps meaning what it
// meant where the command was typed.
void anchorToTypedFolder(std::string& path);

// Reads each write's image whole, in the order of the writes: one copy for the whole run, shared
// by its sessions. The first image that can't be read, or is shorter than its write, is refused.
std::optional<Refusal> loadChainImages(FileSystem& files, const std::vector<CliStep>& steps,
                                       std::vector<SharedImage>& images);

// Every file the chain will create, in order. A read without -o gets the dialog's name in
// `folder` (left to the read itself when the dialog would refuse that name), a write's --backup
// and a read's -o are taken in `folder`, and a backup without DIR gets `backupFolder`; all of
// these names are written into the steps.
std::vector<std::string> settleChainOutputs(std::vector<CliStep>& steps, const std::string& folder,
                                            const std::string& backupFolder);

}  // namespace norvale

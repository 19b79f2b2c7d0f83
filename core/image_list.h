// The image list of a batch: what the user named (files and folders) turned
// into absolute paths, folders replaced by the JPEG files below them, sorted
// ordinally by UTF-16 code units and free of duplicates. The main window's
// image list (chooser and drag and drop) and orvel-cli both build their list
// here, so the same input gives the same list in both.
//
// Neighbours: platform/text (the ordinal order); the profile-development
// sampling (bench/sampling.h) shares the extension rule below.
#pragma once

#include <string>
#include <vector>

// The extension of a path including its dot, by the classic shell rule: the
// text from the last "." of the final component; empty when that component
// has no "." or a space follows its last ".".
std::string FindPathExtension(const std::string& path);

// .jpg .jpeg .jpe, in any letter case.
bool IsJpegSourceFile(const std::string& path);

// Appends every JPEG file (IsJpegSourceFile) below `folder`, at any depth, in
// no particular order. Regular files count also through a symbolic link;
// subfolders reached through a link are never entered, so a link cannot pull
// in a foreign tree or loop. A subfolder that cannot be listed is skipped.
// The folder `excluded` (the batch's output folder; none when empty) is
// never entered below `folder`: what a batch writes into a folder inside the
// photos must not become a source of the next run. It is recognised by
// device and inode, whatever path leads to it. `folder` itself is listed
// even when it is the output folder, where outputs sit beside their sources
// by design (the protected-source checks guard that case).
void CollectJpegFiles(const std::string& folder, std::vector<std::string>& found,
                      const std::string& excluded = {});

// `path` made absolute against `currentFolder` (the process's current folder
// when empty), with "." components and
// repeated or trailing separators dropped. ".." is resolved on the text only
// when the shorter path names the same file: behind a symbolic link, "link/.."
// is not the folder that holds the link.
std::string AbsoluteImagePath(const std::string& path, const std::string& currentFolder);

// Adds what the user named to `list`: every entry of `added` made absolute
// (AbsoluteImagePath); a folder replaced by CollectJpegFiles of it (the named
// folder itself may be a link); any other path taken as it is, whatever its
// type, also when it does not exist. Then the whole list is sorted by UTF-16
// code units (ordinal, case-sensitive, a prefix before the longer text) and
// every entry is removed that repeats an earlier one, by text or by the
// identity of the file it names (device and inode, links followed). Folder
// scans pass over `outputFolder` (CollectJpegFiles' `excluded`); a file inside
// it named one by one is still added.
void AddToImageList(std::vector<std::string>& list, const std::vector<std::string>& added,
                    const std::string& currentFolder, const std::string& outputFolder = {});

// extractor_run.cpp - the run over the image: read it, build the directory
// tree, walk it depth first and list or extract the selected entries.
#include "extractor/extractor_run.h"

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/message.h"
#include "extractor/fat_volume.h"
#include "extractor/file_extraction.h"
#include "extractor/host.h"
#include "extractor/listing.h"
#include "extractor/wildcard.h"
#include "image/image_file.h"
#include "image/image_format.h"
#include "image/image_reader.h"

// True when a pattern of the span first..last matches the match path; the
// patterns are upper-cased in place as they are tested.
static bool MatchesSpan(ExtractorRunState* state, int first, int last, const char* matchPath) {
    for (int position = first; position <= last; ++position) {
        if (position < 1 || position >= state->argumentCount) continue;
        char* pattern = state->arguments[position];
        UpperCaseAscii(pattern);
        if (MatchWildcard(pattern, matchPath)) return true;
    }
    return false;
}

static bool IsSelected(ExtractorRunState* state, const EntryFields* fields) {
    // Without include and exclude lists every entry is selected.
    if (state->includeFirst == kSpanNotSet && state->excludeFirst == kSpanNotSet) return true;
    // "%s\\%s" of the directory path and the name; a path too long is matched
    // as far as it fits.
    char matchPath[kPathSize];
    std::size_t length = 0;
    matchPath[0] = '\0';
    (void)AppendToField(matchPath, std::size(matchPath), &length, fields->directoryPath);
    (void)AppendToField(matchPath, std::size(matchPath), &length, "\\");
    (void)AppendToField(matchPath, std::size(matchPath), &length, fields->name);
    UpperCaseAscii(matchPath);
    bool included = true;
    if (state->includeFirst != kSpanNotSet) {
        included = MatchesSpan(state, state->includeFirst, state->includeLast, matchPath);
    }
    if (!included) return false;
    if (state->excludeFirst != kSpanNotSet &&
        MatchesSpan(state, state->excludeFirst, state->excludeLast, matchPath)) {
        return false;
    }
    return true;
}

// Walks the tree in depth-first pre-order; stops at the first failed
// extraction. The locale and the listing texts are needed only for the lines
// of a listing, the directory path only for them and for the lists (an
// extraction builds the host's path itself), and it changes only where the
// walk enters another directory.
static void WalkTree(ExtractorRunState* state, const FatVolume* volume, TreeNode* root,
                     std::uint32_t* selectedCount) {
    LocaleSettings locale{};
    if (state->listingMode) ReadLocaleSettings(&locale);
    ListingState listing{};
    const bool needPath = state->listingMode || state->includeFirst != kSpanNotSet ||
                          state->excludeFirst != kSpanNotSet;
    EntryFields fields{};
    bool pathBuilt = false;
    const TreeNode* pathParent = nullptr;   // the directory whose path fields holds
    for (TreeNode* node = root; node != nullptr && state->resultCode == 0; node = NextInWalk(node)) {
        BuildEntryName(node, &fields);
        if (needPath && (!pathBuilt || node->parent != pathParent)) {
            BuildEntryPath(node, &fields);
            pathBuilt = true;
            pathParent = node->parent;
        }
        if (!IsSelected(state, &fields)) continue;
        ++*selectedCount;
        if (state->listingMode) {
            BuildListingTexts(node, &locale, &fields);
            PrintListingLine(&fields, &listing);
        } else {
            state->resultCode = ExtractEntry(state, volume, node, &fields);
        }
    }
}

// Text the user typed (a path), as the lines show it: the console takes
// every text for code page 437, so in a UTF-8 locale the text is converted to
// it, a character code page 437 lacks showing as "?". The text itself goes
// to the host unchanged.
static void FormatTypedText(const ExtractorRunState* state, const char* text, char* shown) {
    // Code page 437 is never longer than UTF-8, so the field holds it.
    if (state->utf8Names) {
        (void)ConvertUtf8ToCp437(text, '?', shown, kPathSize);
    } else {
        (void)CopyText(shown, kPathSize, text);
    }
}

// In a UTF-8 locale the patterns arrive in UTF-8, while names are matched in
// code page 437: each pattern is converted in place, once before the walk
// (code page 437 is never longer). A pattern holding a character that code
// page 437 lacks, or that is no UTF-8, can describe no name: it becomes the
// empty pattern, which matches only the empty text, and no match path is
// empty (each holds a "\").
static void ConvertPatterns(ExtractorRunState* state) {
    if (!state->utf8Names) return;
    const int firsts[] = {state->includeFirst, state->excludeFirst};
    const int lasts[] = {state->includeLast, state->excludeLast};
    for (std::size_t span = 0; span < std::size(firsts); ++span) {
        if (firsts[span] == kSpanNotSet) continue;
        for (int position = firsts[span]; position <= lasts[span]; ++position) {
            if (position < 1 || position >= state->argumentCount) continue;
            char* pattern = state->arguments[position];
            if (!ConvertUtf8ToCp437(pattern, '\0', pattern, std::strlen(pattern) + 1)) {
                pattern[0] = '\0';
            }
        }
    }
}

int RunExtraction(ExtractorRunState* state) {
    char shownImageFileName[kPathSize];
    FormatTypedText(state, state->imageFileName, shownImageFileName);
    FormatTypedText(state, state->extractionDirectory, state->shownExtractionDirectory);
    ConvertPatterns(state);
    ConsolePrint("Reading image file %s ...\r\n", shownImageFileName);
    const int handle = OpenImageFile(state->imageFileName);
    if (handle < 0) {
        ReportMessage("Image data of '%s' could not be accessed.", kMessageError, 0,
                      shownImageFileName);
        return kExitError;
    }
    ImageRecord image{};
    image.fileHandle = handle;
    // The reader names the image in its messages.
    (void)CopyText(image.imageFileName, std::size(image.imageFileName), shownImageFileName);
    std::uint32_t selectedCount = 0;
    FatVolume volume{};
    if (!ReadImage(&image, ShowExtractorProgress)) {
        state->resultCode = kExitError;
    } else if (!OpenFatVolume(&image, &volume)) {
        ReportImageNotHandled(&image);
        state->resultCode = kExitError;
    } else {
        bool outOfMemory = false;
        TreeNode* root = BuildDirectoryTree(&volume, &outOfMemory);
        if (outOfMemory) {
            ReportMessage("Not enough memory.", kMessageError, 0);
            state->resultCode = kExitError;
        } else {
            WalkTree(state, &volume, root, &selectedCount);
        }
        FreeDirectoryTree(root);
    }
    CloseExtractionDirectories(state);
    FreeImage(&image);
    if (selectedCount == 0) ConsolePrint("No corresponding files found.\r\n");
    CloseImageFile(handle);
    return state->resultCode;
}

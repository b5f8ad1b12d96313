// nsfitem.cpp - the item calls on a note handle: reading, setting,
// appending, scanning and converting items to text. Items live in the
// note handle until NSFNoteUpdate writes them (note.h).
#include <algorithm>
#include <cstring>

#include "itemvalue.h"
#include "memory.h"
#include "note.h"
#include "nsfnote.h"
#include "ostime.h"
#include "status.h"
#include "timeutil.h"

using namespace nrt;

namespace {

constexpr char kDefaultSeparator = ';';

// The name from a pointer and length (MAXWORD: NUL-terminated); false when
// it is missing, empty or too long.
bool NameOf(const char* name, WORD length, std::string* out) {
    if (name == nullptr) return false;
    size_t size = length == MAXWORD ? std::strlen(name) : length;
    if (size == 0 || size > MAXITEMNAME) return false;
    out->assign(name, size);
    return true;
}

NoteItem* FindItem(NOTEHANDLE hNote, const char* name, WORD length = MAXWORD) {
    Note* note = Notes().Get(hNote);
    std::string itemName;
    if (note == nullptr || !NameOf(name, length, &itemName)) return nullptr;
    return note->Find(itemName);
}

// Copies at most capacity characters and a NUL; returns the count copied.
WORD CopyOut(std::string_view text, char* buffer, size_t capacity) {
    if (buffer == nullptr) return 0;
    size_t length = text.size() < capacity ? text.size() : capacity;
    if (length > 0) std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return (WORD)length;
}

WORD CopyOutSized(std::string_view text, char* buffer, WORD bufferLength) {
    if (buffer == nullptr || bufferLength == 0) return 0;
    return CopyOut(text, buffer, bufferLength - 1u);
}

// The note for a change, or the status that refuses the change.
STATUS NoteForChange(NOTEHANDLE hNote, const char* name, WORD nameLength, Note** note,
                     std::string* itemName) {
    *note = Notes().Get(hNote);
    if (*note == nullptr) return Fail(ERR_INVALID_HANDLE, "item call note handle");
    if (!NameOf(name, nameLength, itemName)) return Fail(ERR_ITEM_NAME, "item name");
    return NOERROR;
}

STATUS SetValue(NOTEHANDLE hNote, const char* name, WORD type, const std::string& data) {
    Note* note = nullptr;
    std::string itemName;
    STATUS status = NoteForChange(hNote, name, MAXWORD, &note, &itemName);
    if (status == NOERROR) note->Replace(itemName, type, data);
    return status;
}

STATUS AppendToList(NOTEHANDLE hNote, const char* name, const char* text, WORD textLength,
                    BOOL allowDuplicates) {
    Note* note = nullptr;
    std::string itemName;
    STATUS status = NoteForChange(hNote, name, MAXWORD, &note, &itemName);
    if (status != NOERROR) return status;
    if (text == nullptr && textLength != 0) return Fail(ERR_BAD_PARAM, "text list entry is null");
    std::string_view entry =
        text ? std::string_view(text, textLength == MAXWORD ? std::strlen(text) : textLength) : std::string_view();
    NoteItem* item = note->Find(itemName);
    std::vector<std::string_view> entries;
    if (item != nullptr && !TextEntryViews(item->type, item->data, &entries))
        return Fail(ERR_DATATYPE, "append to item " + itemName);
    if (!allowDuplicates)
        for (std::string_view existing : entries)
            if (existing == entry) return NOERROR;
    entries.push_back(entry);
    std::string data;
    if (!EncodeTextList(entries, &data)) return Fail(ERR_TEXT_LIST_TOO_BIG, "item " + itemName);
    if (item == nullptr) note->Append(itemName, TYPE_TEXT_LIST, ITEM_SUMMARY, data);
    else note->ChangeValue(item, TYPE_TEXT_LIST, data);
    return NOERROR;
}

// Text lines of a TEXT or TEXT_LIST value; a NUL inside a text breaks the line.
bool LinesOf(WORD type, const std::string& data, std::vector<std::string>* lines) {
    std::vector<std::string> entries;
    if (type == TYPE_TEXT) entries.push_back(data);
    else if (type != TYPE_TEXT_LIST || !TextEntries(type, data, &entries)) return false;
    for (const std::string& entry : entries) {
        size_t start = 0;
        for (size_t end; (end = entry.find('\0', start)) != std::string::npos; start = end + 1)
            lines->push_back(entry.substr(start, end - start));
        lines->push_back(entry.substr(start));
    }
    return true;
}

// Breaks a line longer than width at its last blank within the width, or
// at the width when it has none there.
void WrapInto(const std::string& line, size_t width, std::vector<std::string>* out) {
    size_t start = 0;
    while (width > 0 && line.size() - start > width) {
        size_t blank = line.rfind(' ', start + width);
        bool atBlank = blank != std::string::npos && blank > start;
        size_t end = atBlank ? blank : start + width;
        out->push_back(line.substr(start, end - start));
        start = atBlank ? end + 1 : end;
    }
    out->push_back(line.substr(start));
}

STATUS ItemToText(BLOCKID valueBlock, DWORD valueLength, const char* lineDelimiter,
                  WORD charsPerLine, DHANDLE* rethBuffer, DWORD* retBufferLength, BOOL stripTabs) {
    if (rethBuffer == nullptr) return Fail(ERR_BAD_PARAM, "ConvertItemToText without a handle pointer");
    *rethBuffer = NULLHANDLE;
    size_t size = 0;
    const char* bytes = static_cast<const char*>(BlockData(valueBlock.pool, &size));
    if (bytes == nullptr || valueLength < sizeof(WORD) || valueBlock.block + (size_t)valueLength > size)
        return Fail(ERR_BAD_PARAM, "ConvertItemToText value block");
    WORD type;
    std::memcpy(&type, bytes + valueBlock.block, sizeof(WORD));
    std::string data(bytes + valueBlock.block + sizeof(WORD), valueLength - sizeof(WORD));
    std::vector<std::string> lines, wrapped;
    if (!LinesOf(type, data, &lines)) return Fail(ERR_DATATYPE, "ConvertItemToText");
    for (const std::string& line : lines) WrapInto(line, charsPerLine, &wrapped);
    std::string delimiter = lineDelimiter && *lineDelimiter ? lineDelimiter : std::string(1, '\0');
    std::string text;
    for (size_t i = 0; i < wrapped.size(); ++i) text += (i ? delimiter : "") + wrapped[i];
    if (stripTabs) text.erase(std::remove(text.begin(), text.end(), '\t'), text.end());
    STATUS status = NOERROR;
    *rethBuffer = AllocBlockWith(text, &status);
    if (retBufferLength != nullptr) *retBufferLength = status == NOERROR ? (DWORD)text.size() : 0;
    return status;
}

STATUS ScanItems(NOTEHANDLE hNote, NSFITEMSCANPROC actionRoutine, void* routineParameter) {
    Note* note = Notes().Get(hNote);
    if (note == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFItemScan note handle");
    if (actionRoutine == nullptr) return Fail(ERR_BAD_PARAM, "NSFItemScan without a routine");
    // The routine may change the note, so it walks a copy.
    std::vector<StoredItem> items(note->items.begin(), note->items.end());
    for (StoredItem& item : items) {
        std::string value(reinterpret_cast<const char*>(&item.type), sizeof(WORD));
        value += item.data;
        STATUS status = actionRoutine(0, item.flags, &item.name[0], (WORD)item.name.size(), &value[0],
                                      (DWORD)value.size(), routineParameter);
        if (status != NOERROR) return status;
    }
    return NOERROR;
}

}  // namespace

extern "C" {

STATUS LNPUBLIC NSFItemInfo(NOTEHANDLE hNote, const char* itemName, WORD nameLength,
                            BLOCKID* retbhItem, WORD* retDataType, BLOCKID* retbhValue,
                            DWORD* retValueLength) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (retDataType != nullptr) *retDataType = TYPE_INVALID_OR_UNKNOWN;
        Note* note = Notes().Get(hNote);
        if (note == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFItemInfo note handle");
        NoteItem* item = itemName == nullptr ? (note->items.empty() ? nullptr : &note->items.front())
                                             : FindItem(hNote, itemName, nameLength);
        if (item == nullptr) return ERR_ITEM_NOT_FOUND;
        STATUS status = NOERROR;
        BLOCKID block{NULLHANDLE, 0};
        if (retbhItem != nullptr || retbhValue != nullptr) block.pool = note->ValueBlock(item, &status);
        if (status != NOERROR) return status;
        if (retbhItem != nullptr) *retbhItem = block;
        if (retbhValue != nullptr) *retbhValue = block;
        if (retDataType != nullptr) *retDataType = item->type;
        if (retValueLength != nullptr) *retValueLength = (DWORD)(sizeof(WORD) + item->data.size());
        return NOERROR;
    });
}

BOOL LNPUBLIC NSFItemIsPresent(NOTEHANDLE hNote, const char* itemName, WORD nameLength) {
    return FindItem(hNote, itemName, nameLength) != nullptr;
}

WORD LNPUBLIC NSFItemGetText(NOTEHANDLE hNote, const char* itemName, char* buffer, WORD bufferLength) {
    return Guarded<WORD>(0, [&]() -> WORD {
        CopyOutSized(std::string(), buffer, bufferLength);
        NoteItem* item = FindItem(hNote, itemName);
        if (item == nullptr) return 0;
        std::vector<std::string_view> entries;
        if (TextEntryViews(item->type, item->data, &entries))
            return CopyOutSized(entries.empty() ? std::string_view() : entries[0], buffer, bufferLength);
        std::string text;
        if (!ValueToText(item->type, item->data, std::string(1, kDefaultSeparator), &text)) return 0;
        return CopyOutSized(text, buffer, bufferLength);
    });
}

WORD LNPUBLIC NSFItemGetTextListEntries(NOTEHANDLE hNote, const char* itemName) {
    return Guarded<WORD>(0, [&]() -> WORD {
        NoteItem* item = FindItem(hNote, itemName);
        std::vector<std::string_view> entries;
        if (item == nullptr || !TextEntryViews(item->type, item->data, &entries)) return 0;
        return (WORD)entries.size();
    });
}

WORD LNPUBLIC NSFItemGetTextListEntry(NOTEHANDLE hNote, const char* itemName, WORD entryPos,
                                      char* buffer, WORD bufferLength) {
    return Guarded<WORD>(0, [&]() -> WORD {
        CopyOut(std::string(), buffer, 0);
        NoteItem* item = FindItem(hNote, itemName);
        std::vector<std::string_view> entries;
        if (item == nullptr || !TextEntryViews(item->type, item->data, &entries)) return 0;
        if (entryPos >= entries.size()) return 0;
        return CopyOut(entries[entryPos], buffer, bufferLength);
    });
}

BOOL LNPUBLIC NSFItemGetNumber(NOTEHANDLE hNote, const char* itemName, NUMBER* retNumber) {
    NoteItem* item = FindItem(hNote, itemName);
    NUMBER number = 0;
    if (item == nullptr || !FirstNumber(item->type, item->data, &number)) return FALSE;
    if (retNumber != nullptr) *retNumber = number;
    return TRUE;
}

BOOL LNPUBLIC NSFItemGetTime(NOTEHANDLE hNote, const char* itemName, TIMEDATE* retTime) {
    NoteItem* item = FindItem(hNote, itemName);
    TIMEDATE time{};
    if (item == nullptr || !FirstTime(item->type, item->data, &time)) return FALSE;
    if (retTime != nullptr) *retTime = time;
    return TRUE;
}

STATUS LNPUBLIC NSFItemGetModifiedTime(NOTEHANDLE hNote, const char* itemName, WORD nameLength,
                                       DWORD /*flags*/, TIMEDATE* retTime) {
    if (retTime == nullptr) return Fail(ERR_BAD_PARAM, "NSFItemGetModifiedTime without a time pointer");
    TimeConstant(TIMEDATE_MINIMUM, retTime);
    if (hNote == NULLHANDLE) return NOERROR;
    if (Notes().Get(hNote) == nullptr) return Fail(ERR_INVALID_HANDLE, "NSFItemGetModifiedTime note handle");
    NoteItem* item = FindItem(hNote, itemName, nameLength);
    if (item == nullptr) return ERR_ITEM_NOT_FOUND;
    *retTime = TimedateFromTicks(item->modifiedTicks);
    return NOERROR;
}

STATUS LNPUBLIC NSFItemSetText(NOTEHANDLE hNote, const char* itemName, const char* text,
                               WORD textLength) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (text == nullptr && textLength != 0) return Fail(ERR_BAD_PARAM, "NSFItemSetText text is null");
        size_t length = text == nullptr ? 0 : textLength == MAXWORD ? std::strlen(text) : textLength;
        return SetValue(hNote, itemName, TYPE_TEXT, std::string(text ? text : "", length));
    });
}

STATUS LNPUBLIC NSFItemSetNumber(NOTEHANDLE hNote, const char* itemName, NUMBER* number) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (number == nullptr) return Fail(ERR_BAD_PARAM, "NSFItemSetNumber number is null");
        return SetValue(hNote, itemName, TYPE_NUMBER, EncodeNumber(*number));
    });
}

STATUS LNPUBLIC NSFItemSetTime(NOTEHANDLE hNote, const char* itemName, TIMEDATE* time) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        if (time == nullptr) return Fail(ERR_BAD_PARAM, "NSFItemSetTime time is null");
        return SetValue(hNote, itemName, TYPE_TIME, EncodeTime(*time));
    });
}

STATUS LNPUBLIC NSFItemAppendTextList(NOTEHANDLE hNote, const char* itemName, const char* text,
                                      WORD textLength, BOOL allowDuplicates) {
    return Guarded<STATUS>(ERR_MEMORY,
                           [&]() -> STATUS { return AppendToList(hNote, itemName, text, textLength, allowDuplicates); });
}

STATUS LNPUBLIC NSFItemAppend(NOTEHANDLE hNote, WORD itemFlags, const char* itemName,
                              WORD nameLength, WORD dataType, const void* value, DWORD valueLength) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Note* note = nullptr;
        std::string name;
        STATUS status = NoteForChange(hNote, itemName, nameLength, &note, &name);
        if (status != NOERROR) return status;
        if (value == nullptr && valueLength != 0) return Fail(ERR_BAD_PARAM, "NSFItemAppend value is null");
        note->Append(name, dataType, itemFlags, std::string(static_cast<const char*>(value), valueLength));
        return NOERROR;
    });
}

STATUS LNPUBLIC NSFItemDelete(NOTEHANDLE hNote, const char* itemName, WORD nameLength) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        Note* note = nullptr;
        std::string name;
        STATUS status = NoteForChange(hNote, itemName, nameLength, &note, &name);
        if (status != NOERROR) return status;
        return note->Remove(name) ? NOERROR : ERR_ITEM_NOT_FOUND;
    });
}

STATUS LNPUBLIC NSFItemScan(NOTEHANDLE hNote, NSFITEMSCANPROC actionRoutine, void* routineParameter) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS { return ScanItems(hNote, actionRoutine, routineParameter); });
}

WORD LNPUBLIC NSFItemConvertToText(NOTEHANDLE hNote, const char* itemName, char* retBuffer,
                                   WORD bufferLength, char separator) {
    return Guarded<WORD>(0, [&]() -> WORD {
        CopyOutSized(std::string(), retBuffer, bufferLength);
        NoteItem* item = FindItem(hNote, itemName);
        std::string text;
        std::string joiner(1, separator ? separator : kDefaultSeparator);
        if (item == nullptr || !ValueToText(item->type, item->data, joiner, &text)) return 0;
        return CopyOutSized(text, retBuffer, bufferLength);
    });
}

STATUS LNPUBLIC ConvertItemToText(BLOCKID valueBlock, DWORD valueLength, const char* lineDelimiter,
                                  WORD charsPerLine, DHANDLE* rethBuffer, DWORD* retBufferLength,
                                  BOOL stripTabs) {
    return Guarded<STATUS>(ERR_MEMORY, [&]() -> STATUS {
        return ItemToText(valueBlock, valueLength, lineDelimiter, charsPerLine, rethBuffer,
                          retBufferLength, stripTabs);
    });
}

}  // extern "C"

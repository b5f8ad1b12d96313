// noteinfo.h - CNoteInfo, one entry of a publication pass's modified-note
// table: which note, when it was created and changed, whether it was
// deleted, and the event it stands for. Its entity name is the sort key
// that orders the pass.
//
// Also the time texts of the publication engine: a TIMEDATE as server text
// and that text on a 24-hour clock.
#ifndef ZELREP_NOTEINFO_H
#define ZELREP_NOTEINFO_H

#include "arrent.h"
#include "global.h"

typedef enum {
    EVENT_UNKNOWN = 0,
    EVENT_DELETE = 1,
    EVENT_ADD = 2,
    EVENT_MODIFY = 3
} NOTEEVENT;

#define NOTEINFO_TEXT_SIZE 256
#define UNID_TEXT_SIZE 33

class CNoteInfo : public CArrayEntity {
public:
    CNoteInfo(DBHANDLE hDB, NOTEID noteID);
    ~CNoteInfo();

    STATUS ResetNoteInfo(DBHANDLE hDB, NOTEID noteID);
    NOTEEVENT EventType(TIMEDATE since);
    void EventStr(char* text);
    int UNIDAsStr(char* text);
    int GetUNID(UNIVERSALNOTEID* unid);
    int CompareTimeDate(TIMEDATE a, TIMEDATE b);
    void ModifiedAsStr(char* text);
    void SequenceTimeAsStr(char* text);
    void NoteTimeAsStr(char* text);
    void GetTimeDateString(TIMEDATE* time, char* text);
    void ConvertTimeDateStringToMilitary(char* in, char* out);

    DBHANDLE DbHandle() const { return m_hDB; }
    NOTEID NoteID() const { return m_NoteID; }
    int IsDeleted() const { return m_bDeleted; }
    DWORD Sequence() const { return m_Sequence; }
    TIMEDATE SequenceTime() const { return m_SequenceTime; }
    TIMEDATE Modified() const { return m_Modified; }
    WORD NoteClass() const { return m_NoteClass; }
    NOTEEVENT Event() const { return m_Event; }
    // The status of the last ResetNoteInfo: 0, 549 for a deletion stub, or
    // the failure that left the entry without its note.
    STATUS ReadStatus() const { return m_ReadStatus; }

private:
    DBHANDLE m_hDB;
    NOTEID m_NoteID;
    UNIVERSALNOTEID m_UNID;
    DWORD m_Sequence;
    TIMEDATE m_SequenceTime;
    TIMEDATE m_Modified;
    WORD m_NoteClass;
    int m_bDeleted;
    // The modified time as text, of at most NOTEINFO_TEXT_SIZE - 1
    // characters. The sequence and note time texts are always empty and
    // take no memory.
    CHeldText m_ModifiedText;
    NOTEEVENT m_Event;
    STATUS m_ReadStatus;
};

// The time as server text: full date and time, zone always shown.
void GetTimeDateString(TIMEDATE* time, char* text);

#endif

/* nsferr.h - every error status that notesrt returns.
 *
 * The codes marked "documented" carry the Notes C API's documented values.
 * The others are this runtime's own, placed in the package of the area they
 * belong to. Each has a text that OSLoadString returns. */
#ifndef NOTESRT_NSFERR_H
#define NOTESRT_NSFERR_H

/* Operating system package. */
#define ERR_NOEXIST 0x0103            /* documented: file does not exist */
#define ERR_MEMORY 0x0107             /* documented: out of memory */
#define ERR_SEGMENT_TOO_BIG 0x013B    /* documented: block larger than 64 KB */
#define ERR_INVALID_HANDLE 0x0140     /* handle is not open or of another kind */
#define ERR_IO 0x0141                 /* read or write on disk failed */
#define ERR_DISK_FULL 0x0142          /* no space left on the disk */
#define ERR_BAD_PATH 0x0143           /* path absolute or outside the data directory */
#define ERR_BAD_PARAM 0x0144          /* an argument is null or out of range */
#define ERR_FILE_EXISTS 0x0145        /* file already exists */

/* Database package. */
#define ERR_NOT_NSF 0x0201            /* documented: file is not a database */
#define ERR_CONFLICT 0x0205           /* documented: note changed since it was opened */
#define ERR_ITEM_NOT_FOUND 0x0222     /* documented */
#define ERR_NOTE_DELETED 0x0225       /* documented: note is a deletion stub */
#define ERR_INVALID_NOTE 0x0227       /* documented: no such note */
#define ERR_NSF_INFO_SIZE 0x022D      /* documented: info buffer too long */
#define ERR_SUMMARY_TOO_BIG 0x0231    /* documented */
#define ERR_NO_MODIFIED_NOTES 0x023C  /* documented: nothing changed since the given time */
#define ERR_NOACCESS 0x0246           /* documented: not authorised */
#define ERR_ALREADY_LOCKED 0x0266     /* documented: database scan lock held */
#define ERR_DB_BUSY 0x02E0            /* database locked by another writer too long */
#define ERR_DB_CORRUPT 0x02E1         /* database file is damaged */
#define ERR_DATATYPE 0x02E2           /* item is not of a type the call accepts */
#define ERR_TEXT_LIST_TOO_BIG 0x02E3  /* text list would exceed 64 KB */
#define ERR_DIRECTORY 0x02E4          /* operation not valid on a directory handle */
#define ERR_ITEM_NAME 0x02E5          /* item name empty or too long */

/* Miscellaneous package: conversions and queues. */
#define ERR_NOT_FOUND 0x0404          /* documented */
#define ERR_TDI_CONV 0x040C           /* documented: text is not a time */
#define ERR_TDO_CONV 0x040D           /* documented: time cannot be shown as text */
#define ERR_IFMT 0x040E               /* invalid international format */
#define ERR_TFMT 0x040F               /* invalid time format */
#define ERR_MQ_TIMEOUT 0x045F         /* documented */
#define ERR_DUPLICATE_MQ 0x0461       /* documented: queue name in use */
#define ERR_NO_SUCH_MQ 0x0462         /* documented */
#define ERR_MQ_EXCEEDED_QUOTA 0x0463  /* documented */
#define ERR_MQ_EMPTY 0x0464           /* documented */
#define ERR_MQ_BFR_TOO_SMALL 0x0465   /* documented */
#define ERR_MQ_QUITTING 0x0466        /* documented */
#define ERR_MQ_NAME 0x0470            /* queue name empty or too long */
#define ERR_MQ_OTHER_USER 0x0471      /* queue, or its directory, of another user */

/* Formula package. */
#define ERR_FORMULA_COMPILATION 0x0501 /* documented */

/* Add-in package. */
#define ERR_ADDIN_INIT 0x3301         /* runtime not initialised or init failed */
#define ERR_ADDIN_ARGS 0x3302         /* command line refused */

#endif

/* mq.h - message queues between the processes of one data directory.
 *
 * The process that creates a queue is its only reader. Queues belong to the
 * server's user (the owner of the data directory): only its processes and
 * root may create a queue, put messages to one or read one, and a name can
 * be held only by them. Names are compared as given, at most 64 characters
 * (ERR_MQ_NAME). Messages are delivered in the order sent: priorities are
 * accepted but not used, and the quota is the system's (a full queue
 * answers ERR_MQ_EXCEEDED_QUOTA). A queue ends with the last MQClose of its
 * creator or when the creator ends, even by a kill.
 *
 * Statuses for a queue that cannot be reached: ERR_NO_SUCH_MQ (1122) when
 * no live process holds the name; ERR_MQ_OTHER_USER (1137, "Message queue
 * belongs to another user") when the caller is neither the server's user
 * nor root, or the queue's socket or directory is not the server's user's.
 * MQOpen answers them, and so does MQPut when the queue has ended or was
 * taken over since. A message longer than the reader's buffer is dropped
 * by the reader (ERR_MQ_BFR_TOO_SMALL there); the sender cannot tell. */
#ifndef NOTESRT_MQ_H
#define NOTESRT_MQ_H

#include "global.h"

#define MQ_MAX_MSGSIZE (MAXONESEGSIZE_MQ - 0x50)
#define MAXONESEGSIZE_MQ 0xFFFF
#define MQ_OPEN_CREATE 0x00000001
#define MQ_WAIT_FOR_MSG 0x00000001
#define MQ_HIGHPRIORITY 0
#define MQ_LOWPRIORITY 0xFFFF
#define NOPRIORITY 0xFFFF
#define TASK_QUEUE_PREFIX "MQ$"

NRT_EXTERN_C_BEGIN

/* ERR_DUPLICATE_MQ when a live process holds the name. */
STATUS LNPUBLIC MQCreate(const char* queueName, WORD quota, DWORD options);
STATUS LNPUBLIC MQOpen(const char* queueName, DWORD options, MQHANDLE* retQueue);
STATUS LNPUBLIC MQClose(MQHANDLE queue, DWORD options);
STATUS LNPUBLIC MQPut(MQHANDLE queue, WORD priority, const char* buffer, WORD length,
                      DWORD options);
/* Waits up to timeout milliseconds when timeout is nonzero (forever with
 * MQ_WAIT_FOR_MSG and 0); a message longer than bufferLength is dropped
 * with ERR_MQ_BFR_TOO_SMALL; once the queue quits, ERR_MQ_QUITTING. */
STATUS LNPUBLIC MQGet(MQHANDLE queue, char* buffer, WORD bufferLength, DWORD options,
                      DWORD timeout, WORD* retMsgLength);
void LNPUBLIC MQPutQuitMsg(MQHANDLE queue);
BOOL LNPUBLIC MQIsQuitPending(MQHANDLE queue);

NRT_EXTERN_C_END

#endif

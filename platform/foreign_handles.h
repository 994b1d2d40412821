/*
 * The handles of two platform objects that other libraries receive and act
 * on with nothing of ours: an auto-reset event they signal, and a message
 * queue (a hidden window on Windows) they post messages to. Whoever is given
 * such a handle uses only the system calls below; the handle stays valid
 * until the object's owner is told (by that library's own protocol) that it
 * is no longer used. Header only; includes <stdint.h> alone and compiles as
 * C and as C++.
 *
 * Windows
 *   Event: an event HANDLE of CreateEvent (auto-reset). Signal: SetEvent.
 *   Queue: the HWND of a hidden window owned by the queue's thread.
 *          Post: PostMessage(hwnd, message, wParam, lParam).
 *
 * POSIX
 *   Both handles carry a file descriptor in their pointer value,
 *   (void*)(intptr_t)fd; it is never below 3, so a null handle never names
 *   one. Descriptors are close-on-exec and non-blocking.
 *   Event: an eventfd. Signal: write the 8-byte unsigned value 1
 *          (DACTYRA_EVENT_SIGNAL) to it. Signals that arrive before a wait
 *          releases it fold into one, as with an auto-reset event.
 *   Queue: the write end of a pipe. Post: write one DactyraPostedMessage of
 *          sizeof(DactyraPostedMessage) bytes in a single write(); records
 *          are smaller than PIPE_BUF, so each arrives whole. A full queue
 *          refuses the record (EAGAIN), as PostMessage fails on a full
 *          queue: the poster drops the message or retries later. Messages
 *          are taken in the order posted.
 */
#ifndef DACTYRA_PLATFORM_FOREIGN_HANDLES_H_
#define DACTYRA_PLATFORM_FOREIGN_HANDLES_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A posted window message, as PostMessage carries it. */
typedef struct DactyraPostedMessage {
  uint32_t Message;
  uint32_t Reserved; /* 0 */
  uintptr_t WParam;
  intptr_t LParam;
} DactyraPostedMessage;

/* The value written to an event's descriptor to signal it. */
#define DACTYRA_EVENT_SIGNAL ((uint64_t)1)

/* The descriptor a POSIX handle carries, and the handle of a descriptor. */
#define DACTYRA_HANDLE_FD(handle) ((int)(intptr_t)(handle))
#define DACTYRA_FD_HANDLE(fd) ((void*)(intptr_t)(fd))

#ifdef __cplusplus
}
#endif

#endif /* DACTYRA_PLATFORM_FOREIGN_HANDLES_H_ */

/* The test USB stack's answer file: what the driver serves, worked out on
 * the host by the simulated stack (usbsim/DriverAnswers.cpp), so that the
 * driver only looks answers up and cuts them to the caller's buffer.
 *
 * Little-endian 32-bit words throughout; every offset counts from the start
 * of the file and every text is UTF-16 units padded to a whole word. The
 * driver checks each count and offset against the file's size.
 *
 *   header
 *   names[nameCount]          each followed by its text
 *   interfaces[interfaceCount]
 *   nodes[nodeCount]
 *   answers[answerCount]
 *   reply bytes
 */
#ifndef QM_ANSWER_FORMAT_H
#define QM_ANSWER_FORMAT_H

#include <stdint.h>

#define QM_ANSWERS_MAGIC 0x534D5551u /* "QUMS" */
#define QM_ANSWERS_VERSION 2u
#define QM_ANSWER_ANY 0xFFFFFFFFu     /* an index, value or code that matches every one */
/* Device interfaces the driver can list: one root-enumerated device each,
 * registered by qmusbsim-setup. More host controllers than any machine has. */
#define QM_MAX_INTERFACES 32u
#define QM_MAX_NAME_UNITS 200u

/* The control device the set-up helper talks to. */
#define QM_CONTROL_NAME L"QmUsbSimControl"
/* CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS):
 * read the answer file again; replies with one NTSTATUS word. */
#define QM_IOCTL_RELOAD 0x00222400u
/* Where the driver reads its answers, as an NT path. */
#define QM_ANSWERS_PATH L"\\??\\C:\\windows\\qmusbsim.bin"

struct QmAnswersHeader {
  uint32_t magic;
  uint32_t version;
  uint32_t nameCount;
  uint32_t interfaceCount;
  uint32_t nodeCount;
  uint32_t answerCount;
  uint32_t bytesOffset; /* of the reply bytes */
  uint32_t bytesSize;
  uint32_t traceUnits;  /* an NT path to append every request to, or 0 units */
  /* then the trace path's units, padded to a word */
};

/* A name the walk opens as \\.\NAME: a controller's HCDn or a hub's name. */
struct QmName {
  uint32_t node;
  uint32_t openStatus; /* NTSTATUS of IRP_MJ_CREATE */
  uint32_t units;      /* then the text, padded to a word */
};

/* The k-th listed host-controller interface. */
struct QmInterface {
  uint32_t node;
  uint32_t openStatus;
};

struct QmNode {
  uint32_t firstAnswer;
  uint32_t answerCount;
};

/* One request's answer. A request is served the first answer of its node
 * whose code, index and value match (or are QM_ANSWER_ANY) and whose
 * minSize the output buffer reaches: a request answered differently by
 * buffer size has one answer for each range of sizes, largest first. */
struct QmAnswer {
  uint32_t code;
  uint32_t index;        /* the buffer's first word (ConnectionIndex, UsbUserRequest), or QM_ANSWER_ANY */
  uint32_t valueAt;      /* the value is the word at this offset (bytes not sent read 0), */
  uint32_t valueMask;    /* and-ed with this: */
  uint32_t value;        /* the setup packet's wValue, a protocol flag, a power state; or QM_ANSWER_ANY */
  uint32_t minSize;      /* the smallest output buffer this answer is for */
  uint32_t status;       /* NTSTATUS; replies only with 0 */
  uint32_t keepMask;     /* bit i set: byte i (i < 32) is the caller's and stays, or reads 0 if not sent */
  uint32_t dataAt;       /* descriptor data from here on is cut to wLength; 0: none */
  uint32_t length;       /* bytes of the whole reply, from the buffer's start */
  uint32_t bytesAt;      /* the reply's bytes lie at bytesOffset + bytesAt */
};

#endif

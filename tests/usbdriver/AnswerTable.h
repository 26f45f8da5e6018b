/* Reading the test USB stack's answer file (AnswerFormat.h): checking every
 * count and offset against the file's size, and serving one request from
 * it. Plain C with no kernel calls, so that the driver and the host's
 * fuzzer build the same source. */
#ifndef QM_ANSWER_TABLE_H
#define QM_ANSWER_TABLE_H

#include <stdint.h>

#include "AnswerFormat.h"

#define QM_MAX_NAMES 512u
#define QM_MAX_TRACE_UNITS 260u

/* NTSTATUS values the reader answers with. */
#define QM_STATUS_SUCCESS 0x00000000u
#define QM_STATUS_INVALID_DEVICE_REQUEST 0xC0000010u
#define QM_STATUS_INVALID_USER_BUFFER 0xC00000E8u

/* The answers of one file, pointing into it. */
typedef struct {
  const unsigned char* file;
  uint32_t size;
  const struct QmAnswersHeader* header;
  const uint16_t* tracePath;
  const struct QmName* names[QM_MAX_NAMES];
  const struct QmInterface* interfaces;
  const struct QmNode* nodes;
  const struct QmAnswer* answers;
  const unsigned char* bytes;
} QmTable;

/* Fills the table's pointers from t->file and t->size (the file starting on
 * a 4-byte boundary); 0 when anything lies outside the file or a count is
 * beyond what the driver serves. */
int QmCheckTable(QmTable* t);

/* The units of name i (QmName.units of them). */
const uint16_t* QmNameText(const QmTable* t, uint32_t i);

/* Serves the request `code` sent to `node` with a buffer of `in` bytes
 * sent and `out` bytes room (the same memory, max(in, out) bytes): the
 * first answer of the node that matches, cut to the room and a descriptor's
 * data to the wLength asked for. Returns an NTSTATUS, with the bytes filled
 * in *information. */
uint32_t QmAnswerRequest(const QmTable* t, uint32_t node, uint32_t code, unsigned char* buffer, uint32_t in,
                         uint32_t out, uint32_t* information);

#endif

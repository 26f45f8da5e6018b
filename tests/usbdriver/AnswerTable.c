/* Reading and serving the answer file (AnswerTable.h). */
#include "AnswerTable.h"

/* Takes `count` structures of `each` bytes at *at; 0 when they do not lie
 * inside the file. */
static const void* Take(const QmTable* t, uint32_t* at, uint32_t count, uint32_t each) {
  const uint64_t end = (uint64_t)*at + (uint64_t)count * each;
  const void* start;
  if (end > t->size) return 0;
  start = t->file + *at;
  *at = (uint32_t)end;
  return start;
}

static uint32_t Padded(uint32_t units) { return (units * 2 + 3) & ~3u; }

int QmCheckTable(QmTable* t) {
  uint32_t at = 0, i;
  const struct QmAnswersHeader* h = (const struct QmAnswersHeader*)Take(t, &at, 1, sizeof(*h));
  if (h == 0 || h->magic != QM_ANSWERS_MAGIC || h->version != QM_ANSWERS_VERSION) return 0;
  if (h->nameCount > QM_MAX_NAMES || h->interfaceCount > QM_MAX_INTERFACES || h->traceUnits > QM_MAX_TRACE_UNITS) {
    return 0;
  }
  t->header = h;
  t->tracePath = (const uint16_t*)Take(t, &at, 1, Padded(h->traceUnits));
  if (t->tracePath == 0) return 0;
  for (i = 0; i < h->nameCount; ++i) {
    const struct QmName* name = (const struct QmName*)Take(t, &at, 1, sizeof(*name));
    if (name == 0 || name->units == 0 || name->units > QM_MAX_NAME_UNITS) return 0;
    if (Take(t, &at, 1, Padded(name->units)) == 0) return 0;
    if (name->node != QM_ANSWER_ANY && name->node >= h->nodeCount) return 0;
    t->names[i] = name;
  }
  t->interfaces = (const struct QmInterface*)Take(t, &at, h->interfaceCount, sizeof(struct QmInterface));
  t->nodes = (const struct QmNode*)Take(t, &at, h->nodeCount, sizeof(struct QmNode));
  t->answers = (const struct QmAnswer*)Take(t, &at, h->answerCount, sizeof(struct QmAnswer));
  if (t->interfaces == 0 || t->nodes == 0 || t->answers == 0) return 0;
  if (h->bytesOffset != at || (uint64_t)h->bytesOffset + h->bytesSize > t->size) return 0;
  t->bytes = t->file + h->bytesOffset;
  for (i = 0; i < h->interfaceCount; ++i) {
    if (t->interfaces[i].node != QM_ANSWER_ANY && t->interfaces[i].node >= h->nodeCount) return 0;
  }
  for (i = 0; i < h->nodeCount; ++i) {
    if ((uint64_t)t->nodes[i].firstAnswer + t->nodes[i].answerCount > h->answerCount) return 0;
  }
  for (i = 0; i < h->answerCount; ++i) {
    const struct QmAnswer* a = &t->answers[i];
    if ((uint64_t)a->bytesAt + a->length > h->bytesSize) return 0;
  }
  return 1;
}

const uint16_t* QmNameText(const QmTable* t, uint32_t i) { return (const uint16_t*)(t->names[i] + 1); }

/* The word at `at` of what the caller sent; bytes not sent read 0. */
static uint32_t SentWord(const unsigned char* buffer, uint32_t in, uint32_t at) {
  uint32_t word = 0, i;
  for (i = 0; i < 4; ++i) {
    if (buffer != 0 && (uint64_t)at + i < in) word |= (uint32_t)buffer[at + i] << (8 * i);
  }
  return word;
}

static const struct QmAnswer* Lookup(const QmTable* t, uint32_t node, uint32_t code, const unsigned char* buffer,
                                     uint32_t in, uint32_t out) {
  const struct QmNode* n;
  const uint32_t index = SentWord(buffer, in, 0);
  uint32_t i;
  if (node >= t->header->nodeCount) return 0;
  n = &t->nodes[node];
  for (i = n->firstAnswer; i < n->firstAnswer + n->answerCount; ++i) {
    const struct QmAnswer* a = &t->answers[i];
    if ((a->code == QM_ANSWER_ANY || a->code == code) && (a->index == QM_ANSWER_ANY || a->index == index) &&
        (a->value == QM_ANSWER_ANY || (SentWord(buffer, in, a->valueAt) & a->valueMask) == a->value) &&
        out >= a->minSize) {
      return a;
    }
  }
  return 0;
}

uint32_t QmAnswerRequest(const QmTable* t, uint32_t node, uint32_t code, unsigned char* buffer, uint32_t in,
                         uint32_t out, uint32_t* information) {
  const struct QmAnswer* a = Lookup(t, node, code, buffer, in, out);
  uint32_t length, i;
  *information = 0;
  /* Only a buffered request (METHOD_BUFFERED, 0) has its output in the buffer. */
  if (a == 0 || (code & 3) != 0) return QM_STATUS_INVALID_DEVICE_REQUEST;
  if (a->status != QM_STATUS_SUCCESS) return a->status;
  length = a->length;
  if (a->dataAt != 0) {
    const uint32_t wLength = SentWord(buffer, in, 8) >> 16; /* the setup packet's last field */
    if (length > a->dataAt + wLength) length = a->dataAt + wLength;
  }
  if (length > out) length = out;
  if (length > 0 && buffer == 0) return QM_STATUS_INVALID_USER_BUFFER;
  for (i = 0; i < length; ++i) {
    if (i < 32 && (a->keepMask >> i) & 1u) {
      if (i >= in) buffer[i] = 0; /* what the caller did not send */
    } else {
      buffer[i] = t->bytes[a->bytesAt + i];
    }
  }
  *information = length;
  return QM_STATUS_SUCCESS;
}

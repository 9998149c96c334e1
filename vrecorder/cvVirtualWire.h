/* The recorder server's wire format: what a client (the preload library in
 * bridge/, the tests) and `corvid-burn virtual serve` say to each other over
 * a UNIX stream socket. Plain C so that the C library shares it.
 *
 * One connection stands for one open() of the drive node:
 *   client: open message  (kCvWireOpenSize bytes, then PathLength path bytes)
 *   server: open reply    (kCvWireOpenReplySize bytes: 0 or an errno value,
 *                          EBUSY for a second exclusive open)
 *   then any number of
 *   client: request       (kCvWireRequestSize bytes, then DataLength bytes
 *                          when the direction is "to device")
 *   server: reply         (kCvWireReplySize bytes, then DataLength bytes of
 *                          data in)
 *   client: close message (a request with the close magic) ends it cleanly;
 *           a connection that ends without one is a bus reset.
 *   server: ends the connection once the drive is released (its exclusive
 *           hold given up), so a client's close waits for that end.
 *
 * Every integer is little-endian; the encode/decode helpers below are the
 * only code that lays bytes out. Lengths are checked by the reader: a CDB of
 * 1..16 bytes, data up to kCvWireMaxData, a path up to kCvWireMaxPath.
 */
#ifndef CORVID_VRECORDER_CVVIRTUALWIRE_H
#define CORVID_VRECORDER_CVVIRTUALWIRE_H

#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  kCvWireOpenSize = 16,
  kCvWireOpenReplySize = 8,
  kCvWireRequestSize = 32,
  kCvWireReplySize = 52,
  kCvWireMaxPath = 255,
  kCvWireMaxCdb = 16,
  kCvWireMaxSense = 32,
  kCvWireMaxData = 16 * 1024 * 1024
};

/* Directions, as SG_IO's data phases. */
enum { kCvWireNone = 0, kCvWireFromDevice = 1, kCvWireToDevice = 2 };

/* Magic words that start each message. */
#define CV_WIRE_OPEN "CVOP"
#define CV_WIRE_OPEN_REPLY "CVOK"
#define CV_WIRE_REQUEST "CVCM"
#define CV_WIRE_CLOSE "CVCL"
#define CV_WIRE_REPLY "CVRP"

struct TCvWireOpen {
  uint32_t Flags;      /* the open() flags */
  uint32_t PathLength; /* bytes of the node path that follow */
};

struct TCvWireRequest {
  int Close; /* 1: the close message (the other fields are 0) */
  uint8_t CdbLength;
  uint8_t Direction;
  uint32_t TimeoutMs;
  uint32_t DataLength; /* to device: bytes that follow; from device: wanted */
  uint8_t Cdb[16];
};

struct TCvWireReply {
  uint8_t Status; /* SCSI status */
  uint8_t SenseLength;
  uint8_t HostStatus;
  uint8_t DriverStatus;
  int32_t OSError;     /* not 0: the command never reached the drive */
  uint32_t DataLength; /* bytes of data in that follow */
  uint32_t Residual;
  uint8_t Sense[32];
};

static inline void CvWirePut32(uint8_t* at, uint32_t v) {
  at[0] = (uint8_t)v;
  at[1] = (uint8_t)(v >> 8);
  at[2] = (uint8_t)(v >> 16);
  at[3] = (uint8_t)(v >> 24);
}

static inline uint32_t CvWireGet32(const uint8_t* at) {
  return (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
}

static inline void CvWireEncodeOpen(const struct TCvWireOpen* m, uint8_t out[kCvWireOpenSize]) {
  memset(out, 0, kCvWireOpenSize);
  memcpy(out, CV_WIRE_OPEN, 4);
  CvWirePut32(out + 4, m->Flags);
  CvWirePut32(out + 8, m->PathLength);
}

/* 0 on success, -1 when the bytes are not an open message or break a limit. */
static inline int CvWireDecodeOpen(const uint8_t in[kCvWireOpenSize], struct TCvWireOpen* m) {
  if (memcmp(in, CV_WIRE_OPEN, 4) != 0) return -1;
  m->Flags = CvWireGet32(in + 4);
  m->PathLength = CvWireGet32(in + 8);
  return m->PathLength <= kCvWireMaxPath ? 0 : -1;
}

static inline void CvWireEncodeOpenReply(int32_t error, uint8_t out[kCvWireOpenReplySize]) {
  memcpy(out, CV_WIRE_OPEN_REPLY, 4);
  CvWirePut32(out + 4, (uint32_t)error);
}

static inline int CvWireDecodeOpenReply(const uint8_t in[kCvWireOpenReplySize], int32_t* error) {
  if (memcmp(in, CV_WIRE_OPEN_REPLY, 4) != 0) return -1;
  *error = (int32_t)CvWireGet32(in + 4);
  return 0;
}

static inline void CvWireEncodeRequest(const struct TCvWireRequest* m, uint8_t out[kCvWireRequestSize]) {
  memset(out, 0, kCvWireRequestSize);
  memcpy(out, m->Close ? CV_WIRE_CLOSE : CV_WIRE_REQUEST, 4);
  if (m->Close) return;
  out[4] = m->CdbLength;
  out[5] = m->Direction;
  CvWirePut32(out + 8, m->TimeoutMs);
  CvWirePut32(out + 12, m->DataLength);
  memcpy(out + 16, m->Cdb, 16);
}

static inline int CvWireDecodeRequest(const uint8_t in[kCvWireRequestSize], struct TCvWireRequest* m) {
  memset(m, 0, sizeof *m);
  if (memcmp(in, CV_WIRE_CLOSE, 4) == 0) {
    m->Close = 1;
    return 0;
  }
  if (memcmp(in, CV_WIRE_REQUEST, 4) != 0) return -1;
  m->CdbLength = in[4];
  m->Direction = in[5];
  m->TimeoutMs = CvWireGet32(in + 8);
  m->DataLength = CvWireGet32(in + 12);
  memcpy(m->Cdb, in + 16, 16);
  if (m->CdbLength < 1 || m->CdbLength > kCvWireMaxCdb) return -1;
  if (m->Direction > kCvWireToDevice) return -1;
  if (m->DataLength > kCvWireMaxData) return -1;
  if (m->Direction == kCvWireNone && m->DataLength != 0) return -1;
  return 0;
}

static inline void CvWireEncodeReply(const struct TCvWireReply* m, uint8_t out[kCvWireReplySize]) {
  memset(out, 0, kCvWireReplySize);
  memcpy(out, CV_WIRE_REPLY, 4);
  out[4] = m->Status;
  out[5] = m->SenseLength;
  out[6] = m->HostStatus;
  out[7] = m->DriverStatus;
  CvWirePut32(out + 8, (uint32_t)m->OSError);
  CvWirePut32(out + 12, m->DataLength);
  CvWirePut32(out + 16, m->Residual);
  memcpy(out + 20, m->Sense, 32);
}

static inline int CvWireDecodeReply(const uint8_t in[kCvWireReplySize], struct TCvWireReply* m) {
  if (memcmp(in, CV_WIRE_REPLY, 4) != 0) return -1;
  m->Status = in[4];
  m->SenseLength = in[5];
  m->HostStatus = in[6];
  m->DriverStatus = in[7];
  m->OSError = (int32_t)CvWireGet32(in + 8);
  m->DataLength = CvWireGet32(in + 12);
  m->Residual = CvWireGet32(in + 16);
  memcpy(m->Sense, in + 20, 32);
  if (m->SenseLength > kCvWireMaxSense || m->DataLength > kCvWireMaxData) return -1;
  return 0;
}

#ifdef __cplusplus
}
#endif

#endif

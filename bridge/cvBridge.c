/* The bridge: a preload library that makes the virtual recorder appear to
 * any dynamically linked program as a SCSI CD/DVD drive node, /dev/srN
 * (with the aliases /dev/scdN and /dev/sgM), and forwards its SG_IO
 * commands to the recorder server (`corvid-burn virtual serve`).
 *
 * Configuration, from the environment (set by `corvid-burn virtual run`):
 *   CORVID_BRIDGE_SOCKET  the server's socket (required: without it the
 *                         library stays out of the way entirely)
 *   CORVID_BRIDGE_NODE    the node, /dev/srN; default the first /dev/srN
 *                         that does not exist, so a real drive is never
 *                         hidden
 *   CORVID_BRIDGE_SG      the generic alias, /dev/sgM; default the first
 *                         /dev/sgM that does not exist
 *   CORVID_BRIDGE_DIR     a directory of the bridge's own: the per-drive
 *                         lock file and the small sysfs/proc tree the
 *                         programs read; default the socket's directory
 *   CORVID_BRIDGE_OPEN_ERROR  EACCES, EPERM or EBUSY: every open of the
 *                         nodes fails so, as a node the user may not open
 *                         or one another program holds would (to try a
 *                         program's handling of such a drive)
 *
 * What it answers: open/openat (and their 64-bit and fortified entry
 * points) of the three node names open a real file (the lock file, so that
 * fcntl locks and descriptor flags behave as on a device node) and one
 * connection to the server, whose answer may refuse the open (EBUSY for a
 * second exclusive open); close and dup* follow the descriptor; stat, lstat,
 * fstat, fstatat, statx, access and the old __xstat entry points show block
 * device 11:N and character device 21:M; ioctl answers SG_IO and the SG/SCSI
 * identification calls; fopen, opendir and open of the sysfs and proc
 * entries it fakes are redirected into its tree. Every other path and
 * descriptor goes straight to the C library, untouched.
 *
 * Threads: a program may call in from any thread; one mutex guards the
 * descriptor table and serialises commands (a drive runs one at a time).
 * After fork the child's copies of a connection are its own: closing them
 * never closes the parent's connection.
 *
 * Plain C and the C library only, so that no C++ run time enters the host
 * program.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "vrecorder/cvVirtualWire.h"

#define CV_EXPORT __attribute__((visibility("default")))

enum { kMaxFds = 4096, kHostNumber = 99, kSgVersion = 30536, kDefaultReserved = 32768, kMaxReserved = 1048576 };

/* One open of the drive: its server connection, shared by dup'ed fds. */
struct TConn {
  int Socket;
  int Refs;
  pid_t Owner; /* the process that opened it; a forked child never closes it */
  int Dead;    /* the server went away: every command fails */
  int Reserved;
  int TimeoutJiffies;
};

static pthread_mutex_t gMutex = PTHREAD_MUTEX_INITIALIZER; /* guards everything below */
static struct TConn* gFds[kMaxFds];
static int gReady;
static int gEnabled;
static int gSrIndex = -1, gSgIndex = -1;
static int gOpenError; /* errno every open of a node fails with; 0: none */
static char gSocket[108];
static char gDir[PATH_MAX];
static char gLock[PATH_MAX];
static char gSrPath[32], gScdPath[32], gSgPath[32];

/* ---- the C library's own entry points -------------------------------- */

typedef int (*TOpen)(const char*, int, ...);
typedef int (*TOpenat)(int, const char*, int, ...);
typedef int (*TOpen2)(const char*, int);
typedef int (*TOpenat2)(int, const char*, int);
typedef int (*TClose)(int);
typedef int (*TDup)(int);
typedef int (*TDup2)(int, int);
typedef int (*TDup3)(int, int, int);
typedef int (*TFcntl)(int, int, ...);
typedef int (*TStat)(const char*, struct stat*);
typedef int (*TFstat)(int, struct stat*);
typedef int (*TFstatat)(int, const char*, struct stat*, int);
typedef int (*TStatx)(int, const char*, int, unsigned, struct statx*);
typedef int (*TAccess)(const char*, int);
typedef int (*TFaccessat)(int, const char*, int, int);
typedef ssize_t (*TReadlink)(const char*, char*, size_t);
typedef int (*TIoctl)(int, unsigned long, ...);
typedef FILE* (*TFopen)(const char*, const char*);
typedef DIR* (*TOpendir)(const char*);

static void* Real(const char* name) {
  void* f = dlsym(RTLD_NEXT, name);
  return f;
}

/* ---- configuration ------------------------------------------------------ */

static int RealExists(const char* path) {
  TStat realStat = (TStat)Real("lstat");
  struct stat st;
  return realStat && realStat(path, &st) == 0;
}

static int ParseIndex(const char* value, const char* prefix) {
  size_t n = strlen(prefix);
  if (!value || strncmp(value, prefix, n) != 0 || value[n] == '\0') return -1;
  char* end = NULL;
  long v = strtol(value + n, &end, 10);
  if (*end != '\0' || v < 0 || v > 255) return -1;
  return (int)v;
}

static int FirstFree(const char* prefix) {
  char path[64];
  for (int i = 0; i < 256; ++i) {
    snprintf(path, sizeof path, "%s%d", prefix, i);
    if (!RealExists(path)) return i;
  }
  return -1;
}

static void WriteFile(const char* path, const char* text) {
  TOpen realOpen = (TOpen)Real("open");
  if (!realOpen) return;
  int fd = realOpen(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t left = strlen(text);
  while (left > 0) {
    ssize_t n = write(fd, text, left);
    if (n <= 0) break;
    text += n;
    left -= (size_t)n;
  }
  ((TClose)Real("close"))(fd);
}

/* mkdir -p of dir + rel. */
static void MakeDirs(const char* rel) {
  char path[PATH_MAX];
  if (snprintf(path, sizeof path, "%s%s", gDir, rel) >= (int)sizeof path) return;
  for (char* p = path + strlen(gDir) + 1; *p; ++p) {
    if (*p != '/') continue;
    *p = '\0';
    mkdir(path, 0755);
    *p = '/';
  }
  mkdir(path, 0755);
}

static void FakeFile(const char* rel, const char* text) {
  char path[PATH_MAX];
  if (snprintf(path, sizeof path, "%s%s", gDir, rel) >= (int)sizeof path) return;
  WriteFile(path, text);
}

/* The small sysfs and proc tree of the fake drive. */
static void MakeTree(void) {
  char rel[256], text[256];
  const char* scsi = "/sys/bus/scsi/devices/99:0:0:0";
  MakeDirs(scsi);
  FakeFile("/sys/bus/scsi/devices/99:0:0:0/type", "5\n");
  FakeFile("/sys/bus/scsi/devices/99:0:0:0/vendor", "CORVID  \n");
  FakeFile("/sys/bus/scsi/devices/99:0:0:0/model", "VIRTUAL RECORDER\n");
  FakeFile("/sys/bus/scsi/devices/99:0:0:0/rev", "1.00\n");
  snprintf(rel, sizeof rel, "%s/block/sr%d", scsi, gSrIndex);
  MakeDirs(rel);
  snprintf(rel, sizeof rel, "%s/block:sr%d", scsi, gSrIndex);
  MakeDirs(rel);
  snprintf(rel, sizeof rel, "/sys/block/sr%d/queue", gSrIndex);
  MakeDirs(rel);
  snprintf(rel, sizeof rel, "/sys/block/sr%d/queue/max_sectors_kb", gSrIndex);
  FakeFile(rel, "1024\n");
  snprintf(rel, sizeof rel, "/sys/block/sr%d/dev", gSrIndex);
  snprintf(text, sizeof text, "11:%d\n", gSrIndex);
  FakeFile(rel, text);
  snprintf(rel, sizeof rel, "/sys/class/block/sr%d", gSrIndex);
  MakeDirs(rel);
  snprintf(rel, sizeof rel, "/sys/class/block/sr%d/dev", gSrIndex);
  FakeFile(rel, text);
  snprintf(rel, sizeof rel, "/sys/class/scsi_generic/sg%d/device/block/sr%d/queue", gSgIndex, gSrIndex);
  MakeDirs(rel);
  snprintf(rel, sizeof rel, "/sys/class/scsi_generic/sg%d/device/block/sr%d/queue/max_sectors_kb", gSgIndex,
           gSrIndex);
  FakeFile(rel, "1024\n");
  MakeDirs("/proc/sys/dev/cdrom");
  snprintf(text, sizeof text,
           "CD-ROM information, Id: cdrom.c 3.20 2003/12/17\n\ndrive name:\t\tsr%d\ndrive speed:\t\t48\n"
           "drive # of slots:\t1\nCan write CD-R:\t\t1\nCan write CD-RW:\t\t1\n\n",
           gSrIndex);
  FakeFile("/proc/sys/dev/cdrom/info", text);
}

static void Configure(void) {
  if (gReady) return;
  gReady = 1;
  const char* socketPath = getenv("CORVID_BRIDGE_SOCKET");
  if (!socketPath || !*socketPath || strlen(socketPath) >= sizeof gSocket) return;
  strcpy(gSocket, socketPath);

  const char* openError = getenv("CORVID_BRIDGE_OPEN_ERROR");
  if (openError && strcmp(openError, "EACCES") == 0) gOpenError = EACCES;
  if (openError && strcmp(openError, "EPERM") == 0) gOpenError = EPERM;
  if (openError && strcmp(openError, "EBUSY") == 0) gOpenError = EBUSY;

  gSrIndex = ParseIndex(getenv("CORVID_BRIDGE_NODE"), "/dev/sr");
  if (gSrIndex < 0) gSrIndex = FirstFree("/dev/sr");
  gSgIndex = ParseIndex(getenv("CORVID_BRIDGE_SG"), "/dev/sg");
  if (gSgIndex < 0) gSgIndex = FirstFree("/dev/sg");
  if (gSrIndex < 0 || gSgIndex < 0) return;
  snprintf(gSrPath, sizeof gSrPath, "/dev/sr%d", gSrIndex);
  snprintf(gScdPath, sizeof gScdPath, "/dev/scd%d", gSrIndex);
  snprintf(gSgPath, sizeof gSgPath, "/dev/sg%d", gSgIndex);

  const char* dir = getenv("CORVID_BRIDGE_DIR");
  if (dir && *dir) {
    if (strlen(dir) >= sizeof gDir) return;
    strcpy(gDir, dir);
  } else {
    strcpy(gDir, gSocket);
    char* slash = strrchr(gDir, '/');
    if (!slash) return;
    if (slash == gDir) slash[1] = '\0';
    else *slash = '\0';
  }
  mkdir(gDir, 0755);
  if (snprintf(gLock, sizeof gLock, "%s/sr%d.lock", gDir, gSrIndex) >= (int)sizeof gLock) return;
  MakeTree();
  gEnabled = 1;
}

static void EnsureConfigured(void) {
  pthread_mutex_lock(&gMutex);
  Configure();
  pthread_mutex_unlock(&gMutex);
}

__attribute__((constructor)) static void OnLoad(void) { EnsureConfigured(); }

/* ---- which paths are ours ---------------------------------------------- */

enum TNodeKind { kNotOurs = 0, kBlockNode, kGenericNode };

/* (Not inlined into the entry points, whose path glibc declares non-null
 * although programs do pass NULL.) */
__attribute__((noinline)) static int IsAbsolute(const char* path) { return path && path[0] == '/'; }
__attribute__((noinline)) static int IsEmpty(const char* path) { return path && path[0] == '\0'; }

static enum TNodeKind NodeKind(const char* path) {
  if (!gEnabled || !path) return kNotOurs;
  if (strcmp(path, gSrPath) == 0 || strcmp(path, gScdPath) == 0) return kBlockNode;
  if (strcmp(path, gSgPath) == 0) return kGenericNode;
  return kNotOurs;
}

/* The faked file for a sysfs/proc path, or NULL when the path is not one of
 * ours (the real one is used then). */
static const char* Redirect(const char* path, char* buffer, size_t size) {
  if (!gEnabled || !path) return NULL;
  if (strncmp(path, "/sys/", 5) != 0 && strcmp(path, "/proc/sys/dev/cdrom/info") != 0) return NULL;
  if (snprintf(buffer, size, "%s%s", gDir, path) >= (int)size) return NULL;
  if (!RealExists(buffer)) return NULL;
  /* A real /proc/sys/dev/cdrom/info (real drives present) stays the real one. */
  if (strncmp(path, "/proc/", 6) == 0 && RealExists(path)) return NULL;
  return buffer;
}

static void NodeStat(enum TNodeKind kind, struct stat* st) {
  st->st_mode = (kind == kGenericNode ? S_IFCHR : S_IFBLK) | 0660;
  st->st_rdev = kind == kGenericNode ? makedev(21, (unsigned)gSgIndex) : makedev(11, (unsigned)gSrIndex);
  st->st_size = 0;
}

/* ---- the connection ------------------------------------------------------ */

static int SendAll(int fd, const void* data, size_t size) {
  const uint8_t* p = (const uint8_t*)data;
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    size -= (size_t)n;
  }
  return 0;
}

static int RecvAll(int fd, void* data, size_t size) {
  uint8_t* p = (uint8_t*)data;
  while (size > 0) {
    ssize_t n = recv(fd, p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    size -= (size_t)n;
  }
  return 0;
}

/* A real node is free for the next exclusive open as soon as close()
 * returns: the server ends the connection once it has released the drive,
 * so close() waits for that end (a bounded wait: a server that hangs does
 * not hang the program). */
static void AwaitRelease(int fd) {
  const int kReleaseWaitMs = 5000;
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long elapsed = (long)(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (elapsed >= kReleaseWaitMs) return;
    struct pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, (int)(kReleaseWaitMs - elapsed));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return;
    uint8_t sink[64];
    ssize_t n = recv(fd, sink, sizeof sink, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return; /* the end: the drive is released */
  }
}

/* Connects and sends the open message; the socket, or -1 with errno. */
static int Connect(const char* path, int flags) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  strcpy(address.sun_path, gSocket);
  TClose realClose = (TClose)Real("close");
  if (connect(fd, (struct sockaddr*)&address, sizeof address) != 0) {
    realClose(fd);
    errno = ENXIO; /* no drive behind the node: the server is not running */
    return -1;
  }
  /* Commands may take long (a drive's buffer drains at its speed); a
   * server that stops answering altogether fails the command. */
  struct timeval limit = {600, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

  struct TCvWireOpen open;
  open.Flags = (uint32_t)flags;
  open.PathLength = (uint32_t)strlen(path);
  uint8_t head[kCvWireOpenSize];
  CvWireEncodeOpen(&open, head);
  uint8_t reply[kCvWireOpenReplySize];
  int32_t error = 0;
  if (SendAll(fd, head, sizeof head) != 0 || SendAll(fd, path, open.PathLength) != 0 ||
      RecvAll(fd, reply, sizeof reply) != 0 || CvWireDecodeOpenReply(reply, &error) != 0) {
    realClose(fd);
    errno = EIO;
    return -1;
  }
  if (error != 0) {
    realClose(fd);
    errno = error;
    return -1;
  }
  return fd;
}

static void Release(int fd) {
  /* gMutex held */
  struct TConn* c = gFds[fd];
  gFds[fd] = NULL;
  if (--c->Refs > 0) return;
  TClose realClose = (TClose)Real("close");
  if (c->Owner == getpid() && !c->Dead) {
    struct TCvWireRequest close;
    memset(&close, 0, sizeof close);
    close.Close = 1;
    uint8_t bytes[kCvWireRequestSize];
    CvWireEncodeRequest(&close, bytes);
    if (SendAll(c->Socket, bytes, sizeof bytes) == 0) AwaitRelease(c->Socket);
  }
  realClose(c->Socket);
  free(c);
}

static int OpenNode(const char* path, int flags) {
  TOpen realOpen = (TOpen)Real("open");
  TClose realClose = (TClose)Real("close");
  int access = flags & O_ACCMODE;
  if (gOpenError != 0) {
    errno = gOpenError;
    return -1;
  }
  int fd = realOpen(gLock, access | O_CREAT | (flags & (O_CLOEXEC | O_NONBLOCK)), 0666);
  if (fd < 0) return -1;
  if (fd >= kMaxFds) {
    realClose(fd);
    errno = EMFILE;
    return -1;
  }
  int socketFd = Connect(path, flags);
  if (socketFd < 0) {
    int e = errno;
    realClose(fd);
    errno = e;
    return -1;
  }
  struct TConn* c = (struct TConn*)calloc(1, sizeof *c);
  if (!c) {
    realClose(socketFd);
    realClose(fd);
    errno = ENOMEM;
    return -1;
  }
  c->Socket = socketFd;
  c->Refs = 1;
  c->Owner = getpid();
  c->Reserved = kDefaultReserved;
  c->TimeoutJiffies = 60 * 100;
  pthread_mutex_lock(&gMutex);
  if (gFds[fd]) Release(fd); /* a stale entry of a descriptor closed behind our back */
  gFds[fd] = c;
  pthread_mutex_unlock(&gMutex);
  return fd;
}

static int IsOurs(int fd) {
  if (fd < 0 || fd >= kMaxFds) return 0;
  pthread_mutex_lock(&gMutex);
  int ours = gFds[fd] != NULL;
  pthread_mutex_unlock(&gMutex);
  return ours;
}

/* After a successful dup of an fd of ours. */
static void Duplicated(int oldfd, int newfd) {
  if (oldfd < 0 || oldfd >= kMaxFds || newfd < 0 || newfd >= kMaxFds || oldfd == newfd) return;
  pthread_mutex_lock(&gMutex);
  if (gFds[newfd]) Release(newfd);
  if (gFds[oldfd]) {
    gFds[newfd] = gFds[oldfd];
    ++gFds[newfd]->Refs;
  }
  pthread_mutex_unlock(&gMutex);
}

/* ---- SG_IO --------------------------------------------------------------- */

static int SgIo(int fd, sg_io_hdr_t* h) {
  if (!h || h->interface_id != 'S') {
    errno = ENOSYS;
    return -1;
  }
  if (h->cmd_len < 1 || h->cmd_len > kCvWireMaxCdb || !h->cmdp || h->iovec_count != 0 ||
      h->dxfer_len > kCvWireMaxData || (h->dxfer_len > 0 && !h->dxferp)) {
    errno = EINVAL;
    return -1;
  }
  struct TCvWireRequest request;
  memset(&request, 0, sizeof request);
  request.CdbLength = h->cmd_len;
  memcpy(request.Cdb, h->cmdp, h->cmd_len);
  request.TimeoutMs = h->timeout;
  switch (h->dxfer_direction) {
    case SG_DXFER_TO_DEV: request.Direction = kCvWireToDevice; break;
    case SG_DXFER_FROM_DEV:
    case SG_DXFER_TO_FROM_DEV: request.Direction = kCvWireFromDevice; break;
    default: request.Direction = kCvWireNone; break;
  }
  if (h->dxfer_len == 0) request.Direction = kCvWireNone;
  request.DataLength = request.Direction == kCvWireNone ? 0 : h->dxfer_len;

  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pthread_mutex_lock(&gMutex);
  struct TConn* c = gFds[fd];
  if (!c || c->Dead) {
    pthread_mutex_unlock(&gMutex);
    errno = c ? EIO : EBADF;
    return -1;
  }
  uint8_t head[kCvWireRequestSize];
  CvWireEncodeRequest(&request, head);
  uint8_t replyBytes[kCvWireReplySize];
  struct TCvWireReply reply;
  int failed = SendAll(c->Socket, head, sizeof head) != 0 ||
               (request.Direction == kCvWireToDevice && SendAll(c->Socket, h->dxferp, request.DataLength) != 0) ||
               RecvAll(c->Socket, replyBytes, sizeof replyBytes) != 0 ||
               CvWireDecodeReply(replyBytes, &reply) != 0 ||
               reply.DataLength > (request.Direction == kCvWireFromDevice ? request.DataLength : 0) ||
               (reply.DataLength > 0 && RecvAll(c->Socket, h->dxferp, reply.DataLength) != 0);
  if (failed) c->Dead = 1;
  pthread_mutex_unlock(&gMutex);
  if (failed) {
    errno = EIO;
    return -1;
  }
  if (reply.OSError != 0) {
    errno = reply.OSError;
    return -1;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  h->status = reply.Status;
  h->masked_status = (unsigned char)((reply.Status >> 1) & 0x7F);
  h->msg_status = 0;
  h->host_status = reply.HostStatus;
  h->driver_status = reply.DriverStatus;
  h->sb_len_wr = 0;
  if (reply.SenseLength > 0 && h->sbp && h->mx_sb_len > 0) {
    unsigned n = reply.SenseLength < h->mx_sb_len ? reply.SenseLength : h->mx_sb_len;
    memcpy(h->sbp, reply.Sense, n);
    h->sb_len_wr = (unsigned char)n;
    h->driver_status |= 0x08; /* DRIVER_SENSE */
  }
  h->resid = (int)reply.Residual;
  if (request.Direction == kCvWireNone) h->resid = 0;
  long ms = (end.tv_sec - start.tv_sec) * 1000L + (end.tv_nsec - start.tv_nsec) / 1000000L;
  h->duration = (unsigned)(ms < 0 ? 0 : ms);
  h->info = (h->status || h->host_status || h->driver_status) ? SG_INFO_CHECK : SG_INFO_OK;
  return 0;
}

static int NodeIoctl(int fd, unsigned long request, void* arg) {
  switch (request) {
    case SG_IO: return SgIo(fd, (sg_io_hdr_t*)arg);
    case SG_GET_VERSION_NUM:
      if (!arg) break;
      *(int*)arg = kSgVersion;
      return 0;
    case SCSI_IOCTL_GET_IDLUN: {
      if (!arg) break;
      int* idlun = (int*)arg;
      idlun[0] = (kHostNumber << 24); /* target 0, LUN 0, channel 0 */
      idlun[1] = kHostNumber;
      return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
      if (!arg) break;
      *(int*)arg = kHostNumber;
      return 0;
    case SG_GET_SCSI_ID: {
      if (!arg) break;
      struct sg_scsi_id* id = (struct sg_scsi_id*)arg;
      memset(id, 0, sizeof *id);
      id->host_no = kHostNumber;
      id->scsi_type = 5;
      id->h_cmd_per_lun = 1;
      id->d_queue_depth = 1;
      return 0;
    }
    case SG_SET_TIMEOUT:
      if (!arg) break;
      pthread_mutex_lock(&gMutex);
      if (gFds[fd]) gFds[fd]->TimeoutJiffies = *(int*)arg;
      pthread_mutex_unlock(&gMutex);
      return 0;
    case SG_GET_TIMEOUT: {
      pthread_mutex_lock(&gMutex);
      int t = gFds[fd] ? gFds[fd]->TimeoutJiffies : 0;
      pthread_mutex_unlock(&gMutex);
      return t;
    }
    case SG_GET_RESERVED_SIZE:
      if (!arg) break;
      pthread_mutex_lock(&gMutex);
      *(int*)arg = gFds[fd] ? gFds[fd]->Reserved : kDefaultReserved;
      pthread_mutex_unlock(&gMutex);
      return 0;
    case SG_SET_RESERVED_SIZE: {
      if (!arg) break;
      int wanted = *(int*)arg;
      if (wanted < 0) break;
      pthread_mutex_lock(&gMutex);
      if (gFds[fd]) gFds[fd]->Reserved = wanted > kMaxReserved ? kMaxReserved : wanted;
      pthread_mutex_unlock(&gMutex);
      return 0;
    }
    case SG_EMULATED_HOST:
    case SG_GET_COMMAND_Q:
    case SG_GET_LOW_DMA:
      if (!arg) break;
      *(int*)arg = 0;
      return 0;
    case SG_GET_SG_TABLESIZE:
      if (!arg) break;
      *(int*)arg = 128;
      return 0;
    case SG_SET_COMMAND_Q:
    case SG_SET_KEEP_ORPHAN:
    case SG_SET_FORCE_PACK_ID:
    case SG_SET_DEBUG:
      return 0;
    default:
      errno = ENOTTY;
      return -1;
  }
  errno = EFAULT;
  return -1;
}

/* ---- entry points ------------------------------------------------------- */

static int HasMode(int flags) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

static int DoOpen(const char* path, int flags, mode_t mode, const char* which) {
  EnsureConfigured();
  if (NodeKind(path) != kNotOurs) return OpenNode(path, flags);
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  TOpen realOpen = (TOpen)Real(which);
  if (!realOpen) {
    errno = ENOSYS;
    return -1;
  }
  return realOpen(redirected ? redirected : path, flags, mode);
}

CV_EXPORT int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (HasMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  return DoOpen(path, flags, mode, "open");
}

CV_EXPORT int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (HasMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  return DoOpen(path, flags, mode, "open64");
}

CV_EXPORT int __open_2(const char* path, int flags) { return DoOpen(path, flags, 0, "open"); }
CV_EXPORT int __open64_2(const char* path, int flags) { return DoOpen(path, flags, 0, "open64"); }

static int DoOpenat(int dirfd, const char* path, int flags, mode_t mode, const char* which) {
  EnsureConfigured();
  if (IsAbsolute(path)) {
    if (NodeKind(path) != kNotOurs) return OpenNode(path, flags);
    char buffer[PATH_MAX];
    const char* redirected = Redirect(path, buffer, sizeof buffer);
    if (redirected) path = redirected;
  }
  TOpenat realOpenat = (TOpenat)Real(which);
  if (!realOpenat) {
    errno = ENOSYS;
    return -1;
  }
  return realOpenat(dirfd, path, flags, mode);
}

CV_EXPORT int openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (HasMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  return DoOpenat(dirfd, path, flags, mode, "openat");
}

CV_EXPORT int openat64(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (HasMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = (mode_t)va_arg(ap, int);
    va_end(ap);
  }
  return DoOpenat(dirfd, path, flags, mode, "openat64");
}

CV_EXPORT int __openat_2(int dirfd, const char* path, int flags) { return DoOpenat(dirfd, path, flags, 0, "openat"); }
CV_EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
  return DoOpenat(dirfd, path, flags, 0, "openat64");
}

CV_EXPORT int close(int fd) {
  TClose realClose = (TClose)Real("close");
  if (fd >= 0 && fd < kMaxFds) {
    pthread_mutex_lock(&gMutex);
    if (gFds[fd]) Release(fd);
    pthread_mutex_unlock(&gMutex);
  }
  return realClose(fd);
}

CV_EXPORT int dup(int oldfd) {
  int fd = ((TDup)Real("dup"))(oldfd);
  if (fd >= 0) Duplicated(oldfd, fd);
  return fd;
}

CV_EXPORT int dup2(int oldfd, int newfd) {
  int fd = ((TDup2)Real("dup2"))(oldfd, newfd);
  if (fd >= 0) Duplicated(oldfd, fd);
  return fd;
}

CV_EXPORT int dup3(int oldfd, int newfd, int flags) {
  int fd = ((TDup3)Real("dup3"))(oldfd, newfd, flags);
  if (fd >= 0) Duplicated(oldfd, fd);
  return fd;
}

static int DoFcntl(const char* which, int fd, int cmd, void* arg) {
  TFcntl realFcntl = (TFcntl)Real(which);
  if (!realFcntl) {
    errno = ENOSYS;
    return -1;
  }
  int r = realFcntl(fd, cmd, arg);
  if (r >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) Duplicated(fd, r);
  return r;
}

CV_EXPORT int fcntl(int fd, int cmd, ...) {
  va_list ap;
  va_start(ap, cmd);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return DoFcntl("fcntl", fd, cmd, arg);
}

CV_EXPORT int fcntl64(int fd, int cmd, ...) {
  va_list ap;
  va_start(ap, cmd);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return DoFcntl("fcntl64", fd, cmd, arg);
}

/* stat family: our nodes show as device nodes backed by the lock file. */
static int StatNode(enum TNodeKind kind, struct stat* st) {
  TStat realStat = (TStat)Real("stat");
  int fd = -1;
  if (!RealExists(gLock)) {
    TOpen realOpen = (TOpen)Real("open");
    fd = realOpen(gLock, O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) ((TClose)Real("close"))(fd);
  }
  if (realStat(gLock, st) != 0) return -1;
  NodeStat(kind, st);
  return 0;
}

static int DoStat(const char* which, const char* path, struct stat* st) {
  EnsureConfigured();
  enum TNodeKind kind = NodeKind(path);
  if (kind != kNotOurs) return StatNode(kind, st);
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  TStat realStat = (TStat)Real(which);
  if (!realStat) {
    errno = ENOSYS;
    return -1;
  }
  return realStat(redirected ? redirected : path, st);
}

CV_EXPORT int stat(const char* path, struct stat* st) { return DoStat("stat", path, st); }
CV_EXPORT int lstat(const char* path, struct stat* st) { return DoStat("lstat", path, st); }
CV_EXPORT int stat64(const char* path, struct stat64* st) { return DoStat("stat64", path, (struct stat*)st); }
CV_EXPORT int lstat64(const char* path, struct stat64* st) { return DoStat("lstat64", path, (struct stat*)st); }

static int DoFstat(const char* which, int fd, struct stat* st) {
  TFstat realFstat = (TFstat)Real(which);
  if (!realFstat) {
    errno = ENOSYS;
    return -1;
  }
  int r = realFstat(fd, st);
  if (r == 0 && IsOurs(fd)) NodeStat(kBlockNode, st);
  return r;
}

CV_EXPORT int fstat(int fd, struct stat* st) { return DoFstat("fstat", fd, st); }
CV_EXPORT int fstat64(int fd, struct stat64* st) { return DoFstat("fstat64", fd, (struct stat*)st); }

static int DoFstatat(const char* which, int dirfd, const char* path, struct stat* st, int flags) {
  EnsureConfigured();
  if (IsEmpty(path) && (flags & AT_EMPTY_PATH)) return DoFstat("fstat", dirfd, st);
  char buffer[PATH_MAX];
  if (IsAbsolute(path)) {
    enum TNodeKind kind = NodeKind(path);
    if (kind != kNotOurs) return StatNode(kind, st);
    const char* redirected = Redirect(path, buffer, sizeof buffer);
    if (redirected) path = redirected;
  }
  TFstatat realFstatat = (TFstatat)Real(which);
  if (!realFstatat) {
    errno = ENOSYS;
    return -1;
  }
  return realFstatat(dirfd, path, st, flags);
}

CV_EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
  return DoFstatat("fstatat", dirfd, path, st, flags);
}
CV_EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
  return DoFstatat("fstatat64", dirfd, path, (struct stat*)st, flags);
}

/* The entry points older programs were linked against (x86-64: version 1,
 * the kernel's struct stat). */
CV_EXPORT int __xstat(int ver, const char* path, struct stat* st) {
  (void)ver;
  return DoStat("stat", path, st);
}
CV_EXPORT int __lxstat(int ver, const char* path, struct stat* st) {
  (void)ver;
  return DoStat("lstat", path, st);
}
CV_EXPORT int __fxstat(int ver, int fd, struct stat* st) {
  (void)ver;
  return DoFstat("fstat", fd, st);
}
CV_EXPORT int __xstat64(int ver, const char* path, struct stat64* st) {
  (void)ver;
  return DoStat("stat", path, (struct stat*)st);
}
CV_EXPORT int __lxstat64(int ver, const char* path, struct stat64* st) {
  (void)ver;
  return DoStat("lstat", path, (struct stat*)st);
}
CV_EXPORT int __fxstat64(int ver, int fd, struct stat64* st) {
  (void)ver;
  return DoFstat("fstat", fd, (struct stat*)st);
}
CV_EXPORT int __fxstatat(int ver, int dirfd, const char* path, struct stat* st, int flags) {
  (void)ver;
  return DoFstatat("fstatat", dirfd, path, st, flags);
}
CV_EXPORT int __fxstatat64(int ver, int dirfd, const char* path, struct stat64* st, int flags) {
  (void)ver;
  return DoFstatat("fstatat", dirfd, path, (struct stat*)st, flags);
}

CV_EXPORT int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* sx) {
  EnsureConfigured();
  TStatx realStatx = (TStatx)Real("statx");
  if (!realStatx) {
    errno = ENOSYS;
    return -1;
  }
  enum TNodeKind kind = kNotOurs;
  int viaFd = IsEmpty(path) && (flags & AT_EMPTY_PATH);
  char buffer[PATH_MAX];
  if (viaFd && IsOurs(dirfd)) {
    kind = kBlockNode;
  } else if (IsAbsolute(path)) {
    kind = NodeKind(path);
    if (kind != kNotOurs) {
      StatNode(kind, &(struct stat){0});
      path = gLock;
    } else {
      const char* redirected = Redirect(path, buffer, sizeof buffer);
      if (redirected) path = redirected;
    }
  }
  int r = realStatx(dirfd, path, flags, mask, sx);
  if (r == 0 && kind != kNotOurs) {
    sx->stx_mode = (uint16_t)((kind == kGenericNode ? S_IFCHR : S_IFBLK) | 0660);
    sx->stx_rdev_major = kind == kGenericNode ? 21 : 11;
    sx->stx_rdev_minor = (uint32_t)(kind == kGenericNode ? gSgIndex : gSrIndex);
    sx->stx_size = 0;
  }
  return r;
}

CV_EXPORT int access(const char* path, int mode) {
  EnsureConfigured();
  if (NodeKind(path) != kNotOurs) return (mode & X_OK) ? (errno = EACCES, -1) : 0;
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  return ((TAccess)Real("access"))(redirected ? redirected : path, mode);
}

CV_EXPORT int faccessat(int dirfd, const char* path, int mode, int flags) {
  EnsureConfigured();
  if (IsAbsolute(path)) {
    if (NodeKind(path) != kNotOurs) return (mode & X_OK) ? (errno = EACCES, -1) : 0;
    char buffer[PATH_MAX];
    const char* redirected = Redirect(path, buffer, sizeof buffer);
    if (redirected) return ((TFaccessat)Real("faccessat"))(dirfd, redirected, mode, flags);
  }
  return ((TFaccessat)Real("faccessat"))(dirfd, path, mode, flags);
}

CV_EXPORT ssize_t readlink(const char* path, char* buf, size_t size) {
  EnsureConfigured();
  if (NodeKind(path) != kNotOurs) {
    errno = EINVAL; /* a device node, not a link */
    return -1;
  }
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  return ((TReadlink)Real("readlink"))(redirected ? redirected : path, buf, size);
}

CV_EXPORT int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (IsOurs(fd)) return NodeIoctl(fd, request, arg);
  TIoctl realIoctl = (TIoctl)Real("ioctl");
  return realIoctl(fd, request, arg);
}

/* glibc's fopen and opendir open their files inside the library, out of
 * reach of the open above. */
CV_EXPORT FILE* fopen(const char* path, const char* mode) {
  EnsureConfigured();
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  return ((TFopen)Real("fopen"))(redirected ? redirected : path, mode);
}

CV_EXPORT FILE* fopen64(const char* path, const char* mode) {
  EnsureConfigured();
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  return ((TFopen)Real("fopen64"))(redirected ? redirected : path, mode);
}

CV_EXPORT DIR* opendir(const char* path) {
  EnsureConfigured();
  char buffer[PATH_MAX];
  const char* redirected = Redirect(path, buffer, sizeof buffer);
  return ((TOpendir)Real("opendir"))(redirected ? redirected : path);
}

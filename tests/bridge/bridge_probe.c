/* A probe the bridge tests run with and without the preload library: it
 * prints what the C library answers, one line per call.
 *
 *   bridge_probe file PATH LINK DIR   open/stat/ioctl/fopen/opendir/lock of
 *                                     real files (must not change under the
 *                                     library)
 *   bridge_probe node NODE SGNODE     the drive node: stat, open, the SG/SCSI
 *                                     ioctls, one INQUIRY, exclusive opens
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

static void Result(const char* what, int r) {
  if (r < 0) printf("%s: -1 errno %d\n", what, errno);
  else printf("%s: %d\n", what, r);
}

static void PrintStat(const char* what, int r, const struct stat* st) {
  if (r != 0) {
    printf("%s: -1 errno %d\n", what, errno);
    return;
  }
  printf("%s: mode %o size %lld ino %llu rdev %u:%u\n", what, (unsigned)st->st_mode, (long long)st->st_size,
         (unsigned long long)st->st_ino, major(st->st_rdev), minor(st->st_rdev));
}

static int Files(const char* path, const char* link, const char* dir) {
  struct stat st;
  PrintStat("stat", stat(path, &st), &st);
  PrintStat("lstat link", lstat(link, &st), &st);
  PrintStat("fstatat", fstatat(AT_FDCWD, path, &st, 0), &st);
  struct statx sx;
  int r = statx(AT_FDCWD, path, 0, STATX_BASIC_STATS, &sx);
  if (r == 0) printf("statx: mode %o size %llu\n", (unsigned)sx.stx_mode, (unsigned long long)sx.stx_size);
  else Result("statx", r);
  Result("access", access(path, R_OK | W_OK));
  char target[256];
  ssize_t n = readlink(link, target, sizeof target - 1);
  if (n >= 0) {
    target[n] = '\0';
    printf("readlink: %s\n", target);
  } else {
    Result("readlink", -1);
  }
  int fd = open(path, O_RDWR | O_EXCL | O_NONBLOCK);
  Result("open O_EXCL", fd < 0 ? -1 : 0);
  if (fd >= 0) {
    PrintStat("fstat", fstat(fd, &st), &st);
    int avail = -1;
    Result("ioctl FIONREAD", ioctl(fd, FIONREAD, &avail));
    printf("FIONREAD value: %d\n", avail);
    int version = 0;
    Result("ioctl SG_GET_VERSION_NUM", ioctl(fd, SG_GET_VERSION_NUM, &version));
    struct flock lock = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
    Result("fcntl F_SETLK", fcntl(fd, F_SETLK, &lock));
    int copy = dup(fd);
    Result("dup", copy < 0 ? -1 : 0);
    char bytes[8] = {0};
    Result("pread of dup", (int)pread(copy, bytes, 4, 0));
    printf("bytes: %.4s\n", bytes);
    Result("close dup", close(copy));
    Result("close", close(fd));
  }
  Result("open missing", open("/nonexistent/corvid-probe", O_RDONLY));
  FILE* f = fopen(path, "r");
  if (f) {
    char line[64] = {0};
    printf("fopen: %s\n", fgets(line, sizeof line, f) ? line : "(empty)\n");
    fclose(f);
  } else {
    Result("fopen", -1);
  }
  DIR* d = opendir(dir);
  if (d) {
    int entries = 0;
    while (readdir(d)) ++entries;
    closedir(d);
    printf("opendir entries: %d\n", entries);
  } else {
    Result("opendir", -1);
  }
  return 0;
}

static int Node(const char* node, const char* sg) {
  struct stat st;
  PrintStat("stat node", stat(node, &st), &st);
  PrintStat("stat sg", stat(sg, &st), &st);
  Result("access node", access(node, R_OK | W_OK));
  int fd = open(node, O_RDWR | O_EXCL | O_NONBLOCK);
  Result("open node", fd < 0 ? -1 : 0);
  if (fd < 0) return 0;
  PrintStat("fstat node", fstat(fd, &st), &st);
  int second = open(node, O_RDWR | O_EXCL | O_NONBLOCK);
  Result("second exclusive open", second < 0 ? -1 : 0);
  if (second >= 0) close(second);
  int version = 0;
  Result("SG_GET_VERSION_NUM", ioctl(fd, SG_GET_VERSION_NUM, &version));
  printf("version: %d\n", version);
  int idlun[2] = {0, 0};
  Result("SCSI_IOCTL_GET_IDLUN", ioctl(fd, SCSI_IOCTL_GET_IDLUN, idlun));
  int bus = -1;
  Result("SCSI_IOCTL_GET_BUS_NUMBER", ioctl(fd, SCSI_IOCTL_GET_BUS_NUMBER, &bus));
  printf("host: %d %d\n", (idlun[0] >> 24) & 0xFF, bus);
  struct flock lock = {.l_type = F_WRLCK, .l_whence = SEEK_SET};
  Result("fcntl F_SETLK", fcntl(fd, F_SETLK, &lock));
  Result("HDIO_GET_IDENTITY", ioctl(fd, 0x030d, NULL));

  unsigned char cdb[6] = {0x12, 0, 0, 0, 96, 0};
  unsigned char data[96] = {0};
  unsigned char sense[32] = {0};
  sg_io_hdr_t h;
  memset(&h, 0, sizeof h);
  h.interface_id = 'S';
  h.dxfer_direction = SG_DXFER_FROM_DEV;
  h.cmd_len = sizeof cdb;
  h.cmdp = cdb;
  h.dxfer_len = sizeof data;
  h.dxferp = data;
  h.mx_sb_len = sizeof sense;
  h.sbp = sense;
  h.timeout = 10000;
  Result("SG_IO INQUIRY", ioctl(fd, SG_IO, &h));
  printf("inquiry: status %d resid %d type %d id %.24s\n", h.status, h.resid, data[0], (const char*)data + 8);
  int copy = dup(fd);
  Result("close", close(fd));
  memset(data, 0, sizeof data);
  Result("SG_IO on a dup after close", ioctl(copy, SG_IO, &h));
  Result("close dup", close(copy));
  /* A burning program closes and reopens the node for itself alone between
   * commands: each reopen finds the node free, as on a real drive. */
  int refused = 0;
  for (int i = 0; i < 200; ++i) {
    int again = open(node, O_RDWR | O_EXCL | O_NONBLOCK);
    if (again < 0) ++refused;
    else close(again);
  }
  printf("exclusive reopens refused: %d\n", refused);
  return 0;
}

/* hold NODE COMMAND...: opens NODE for this process alone (O_EXCL), as a
 * burning program does, and runs COMMAND while holding it; exits with its
 * status. */
static int Hold(const char* node, char** command) {
  int fd = open(node, O_RDWR | O_EXCL | O_NONBLOCK);
  if (fd < 0) {
    printf("hold %s: %s\n", node, strerror(errno));
    return 3;
  }
  printf("holding %s as pid %d\n", node, (int)getpid());
  pid_t child = fork();
  if (child < 0) return 3;
  if (child == 0) {
    close(fd);
    execvp(command[0], command);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  close(fd);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int main(int argc, char** argv) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  if (argc >= 4 && strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv + 3);
  if (argc == 5 && strcmp(argv[1], "file") == 0) return Files(argv[2], argv[3], argv[4]);
  if (argc == 4 && strcmp(argv[1], "node") == 0) return Node(argv[2], argv[3]);
  fprintf(stderr, "usage: bridge_probe file PATH LINK DIR | node NODE SGNODE | hold NODE COMMAND...\n");
  return 2;
}

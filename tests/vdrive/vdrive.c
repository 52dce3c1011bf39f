// SPDX-License-Identifier: GPL-3.0-or-later
/* vdrive: a virtual SCSI CD-ROM drive for the test suite, as an LD_PRELOAD library.
 *
 * It makes one device path (VDRIVE_DEVICE, default /dev/sr0) look like a drive holding the
 * disc image VDRIVE_CUE (a cue sheet with one BINARY file of 2352-byte sectors, as mkdisc
 * writes). stat/lstat/fstat, open, read, close, readlink, realpath and ioctl are answered for
 * that path: the <linux/cdrom.h> ioctls libcdio's Linux driver uses and the MMC commands it
 * sends through CDROM_SEND_PACKET. No file is created under /dev; everything else passes
 * through to the C library.
 *
 * Faults and switches, each an environment variable:
 *   VDRIVE_ALIAS=/dev/cdrom     a symbolic link to the device, as udev makes it
 *   VDRIVE_STATE=FILE           tray state, kept across processes ("tray=open"), and counters
 *   VDRIVE_NODISC=1             the tray is closed and empty
 *   VDRIVE_EACCES=1             open() fails with EACCES (a user outside the cdrom group)
 *   VDRIVE_BAD=A-B[,C-D]        unreadable sectors: MEDIUM ERROR, ioctl fails with EIO
 *   VDRIVE_SCRATCH=A-B[,C-D]    sectors that read differently every time
 *   VDRIVE_JITTER=N:MAX[:SEED]  every Nth audio read lands 1..MAX stereo frames off, either way;
 *                               the seed picks the amounts and which read of every N it is
 *   VDRIVE_DELAY_MS=MS          each audio read takes this long
 *   VDRIVE_SWAP_CUE=CUE         after VDRIVE_SWAP_AFTER=N table-of-contents reads the disc is
 *                               this one: UNIT ATTENTION once, CDROM_MEDIA_CHANGED true once
 *   VDRIVE_VENDOR, VDRIVE_MODEL the inquiry data (default "TESSALY", "Virtual CD-ROM")
 *   VDRIVE_LOG=FILE             one line per ioctl and packet, unknown ones marked "?" */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/cdrom.h>
#include <scsi/scsi.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#define SECTOR 2352
#define FRAMES 588
#define MAX_TRACKS 99
#define MAX_FDS 64
#define MAX_RANGES 16

typedef struct {
  int number;
  int audio;
  long start; /* LSN */
} track_t_;

typedef struct {
  char bin[PATH_MAX];
  int ntracks;
  track_t_ tracks[MAX_TRACKS];
  long leadout; /* LSN */
  FILE* file;
} disc_t;

typedef struct {
  long first, last;
} range_t;

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static int g_ready;
static char g_device[PATH_MAX] = "/dev/sr0";
static char g_alias[PATH_MAX];
static char g_state[PATH_MAX];
static char g_log[PATH_MAX];
static char g_vendor[9] = "TESSALY";
static char g_model[17] = "Virtual CD-ROM";
static int g_nodisc, g_eacces;
static range_t g_bad[MAX_RANGES], g_scratch[MAX_RANGES];
static int g_nbad, g_nscratch;
static long g_jitterEvery, g_jitterMax;
static uint32_t g_seed = 12345;
static long g_jitterPhase; /* which of every N reads is the shifted one, from the seed */
static long g_delayMs;
static char g_swapCue[PATH_MAX];
static long g_swapAfter = -1;
static disc_t g_disc, g_swapDisc;
static int g_swapped;
static long g_tocReads, g_audioReads;
static int g_mediaChanged, g_unitAttention;
static int g_fds[MAX_FDS];
static int g_nfds;
/* Analog playback: the range, when it started, and whether paused. */
static long g_playFirst = -1, g_playLast = -1, g_pausedAt = -1;
static struct timespec g_playStart;

/* --- the real functions --- */
static int (*real_open)(const char*, int, ...);
static int (*real_open64)(const char*, int, ...);
static int (*real_openat)(int, const char*, int, ...);
static int (*real_close)(int);
static ssize_t (*real_read)(int, void*, size_t);
static int (*real_ioctl)(int, unsigned long, ...);
static int (*real_stat)(const char*, struct stat*);
static int (*real_lstat)(const char*, struct stat*);
static int (*real_fstat)(int, struct stat*);
static int (*real_stat64)(const char*, struct stat64*);
static int (*real_lstat64)(const char*, struct stat64*);
static int (*real_fstat64)(int, struct stat64*);
static int (*real_fstatat)(int, const char*, struct stat*, int);
static int (*real_fstatat64)(int, const char*, struct stat64*, int);
static ssize_t (*real_readlink)(const char*, char*, size_t);
static char* (*real_realpath)(const char*, char*);
static int (*real_access)(const char*, int);

static int g_resolved;
static void resolveAll(void) {
  if (g_resolved) return;
#define RESOLVE(name) real_##name = dlsym(RTLD_NEXT, #name)
  RESOLVE(open); RESOLVE(open64); RESOLVE(openat); RESOLVE(close); RESOLVE(read); RESOLVE(ioctl);
  RESOLVE(stat); RESOLVE(lstat); RESOLVE(fstat); RESOLVE(stat64); RESOLVE(lstat64); RESOLVE(fstat64);
  RESOLVE(fstatat); RESOLVE(fstatat64); RESOLVE(readlink); RESOLVE(realpath); RESOLVE(access);
#undef RESOLVE
  g_resolved = 1;
}
#define REAL(name) (resolveAll(), real_##name)

static void logf_(const char* fmt, ...) {
  if (!g_log[0]) return;
  FILE* f = fopen(g_log, "a");
  if (!f) return;
  va_list ap;
  va_start(ap, fmt);
  vfprintf(f, fmt, ap);
  va_end(ap);
  fputc('\n', f);
  fclose(f);
}

static void parseRanges(const char* text, range_t* out, int* n) {
  *n = 0;
  while (text && *text && *n < MAX_RANGES) {
    char* end;
    long a = strtol(text, &end, 10);
    long b = a;
    if (*end == '-') b = strtol(end + 1, &end, 10);
    out[(*n)++] = (range_t){a, b};
    text = *end == ',' ? end + 1 : NULL;
  }
}

static int inRanges(const range_t* r, int n, long lsn) {
  for (int i = 0; i < n; ++i)
    if (lsn >= r[i].first && lsn <= r[i].last) return 1;
  return 0;
}

static long msfToLsn(int m, int s, int f) { return ((long)m * 60 + s) * 75 + f; }

/* A cue sheet as mkdisc writes it: one FILE, TRACK nn TYPE, INDEX 01 mm:ss:ff. */
static int loadCue(const char* cue, disc_t* d) {
  memset(d, 0, sizeof *d);
  FILE* f = fopen(cue, "r");
  if (!f) return -1;
  char line[1024];
  while (fgets(line, sizeof line, f)) {
    char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (!strncmp(p, "FILE ", 5) && !d->bin[0]) {
      char* q = strchr(p, '"');
      char* e = q ? strchr(q + 1, '"') : NULL;
      if (!q || !e) continue;
      *e = 0;
      const char* slash = strrchr(cue, '/');
      if (q[1] == '/' || !slash)
        snprintf(d->bin, sizeof d->bin, "%s", q + 1);
      else
        snprintf(d->bin, sizeof d->bin, "%.*s/%s", (int)(slash - cue), cue, q + 1);
    } else if (!strncmp(p, "TRACK ", 6) && d->ntracks < MAX_TRACKS) {
      track_t_* t = &d->tracks[d->ntracks++];
      t->number = atoi(p + 6);
      t->audio = strstr(p, "AUDIO") != NULL;
      t->start = -1;
    } else if (!strncmp(p, "INDEX 01 ", 9) && d->ntracks > 0) {
      int m, s, fr;
      if (sscanf(p + 9, "%d:%d:%d", &m, &s, &fr) == 3) d->tracks[d->ntracks - 1].start = msfToLsn(m, s, fr);
    }
  }
  fclose(f);
  struct stat st;
  if (!d->bin[0] || REAL(stat)(d->bin, &st) != 0 || d->ntracks == 0) return -1;
  d->leadout = (long)(st.st_size / SECTOR);
  d->file = fopen(d->bin, "rb");
  return d->file ? 0 : -1;
}

__attribute__((constructor)) static void init(void) {
  if (g_ready) return;
  g_ready = 1;
  const char* v;
  if ((v = getenv("VDRIVE_DEVICE")) && *v) snprintf(g_device, sizeof g_device, "%s", v);
  if ((v = getenv("VDRIVE_ALIAS"))) snprintf(g_alias, sizeof g_alias, "%s", v);
  if ((v = getenv("VDRIVE_STATE"))) snprintf(g_state, sizeof g_state, "%s", v);
  if ((v = getenv("VDRIVE_LOG"))) snprintf(g_log, sizeof g_log, "%s", v);
  if ((v = getenv("VDRIVE_VENDOR"))) snprintf(g_vendor, sizeof g_vendor, "%s", v);
  if ((v = getenv("VDRIVE_MODEL"))) snprintf(g_model, sizeof g_model, "%s", v);
  g_nodisc = (v = getenv("VDRIVE_NODISC")) && *v == '1';
  g_eacces = (v = getenv("VDRIVE_EACCES")) && *v == '1';
  parseRanges(getenv("VDRIVE_BAD"), g_bad, &g_nbad);
  parseRanges(getenv("VDRIVE_SCRATCH"), g_scratch, &g_nscratch);
  if ((v = getenv("VDRIVE_JITTER"))) {
    unsigned long seed = 0;
    int n = sscanf(v, "%ld:%ld:%lu", &g_jitterEvery, &g_jitterMax, &seed);
    if (n == 3) g_seed = (uint32_t)seed;
    if (g_jitterEvery > 0) g_jitterPhase = (long)(seed % (unsigned long)g_jitterEvery);
  }
  if ((v = getenv("VDRIVE_DELAY_MS"))) g_delayMs = atol(v);
  if ((v = getenv("VDRIVE_SWAP_CUE"))) snprintf(g_swapCue, sizeof g_swapCue, "%s", v);
  if ((v = getenv("VDRIVE_SWAP_AFTER"))) g_swapAfter = atol(v);
  if ((v = getenv("VDRIVE_CUE")) && loadCue(v, &g_disc) != 0) fprintf(stderr, "vdrive: cannot load %s\n", v);
  if (g_swapCue[0] && loadCue(g_swapCue, &g_swapDisc) != 0) fprintf(stderr, "vdrive: cannot load %s\n", g_swapCue);
}

/* --- the tray, kept in the state file so that it survives the process --- */

static int trayOpen(void) {
  if (!g_state[0]) return 0;
  FILE* f = fopen(g_state, "r");
  if (!f) return 0;
  char line[128];
  int open_ = 0;
  while (fgets(line, sizeof line, f))
    if (!strncmp(line, "tray=open", 9)) open_ = 1;
  fclose(f);
  return open_;
}

static void writeState(int open_) {
  if (!g_state[0]) return;
  FILE* f = fopen(g_state, "w");
  if (!f) return;
  fprintf(f, "tray=%s\ntocreads=%ld\naudioreads=%ld\n", open_ ? "open" : "closed", g_tocReads, g_audioReads);
  fclose(f);
}

static void setTray(int open_) {
  const int was = trayOpen();
  writeState(open_);
  if (was && !open_) {
    /* A disc put back is a new medium to the drive. */
    g_mediaChanged = 1;
    g_unitAttention = 1;
  }
  if (open_) g_playFirst = -1;
}

static disc_t* disc(void) {
  if (g_nodisc || trayOpen()) return NULL;
  disc_t* d = g_swapped ? &g_swapDisc : &g_disc;
  return d->file ? d : NULL;
}

static void countTocRead(void) {
  ++g_tocReads;
  if (g_swapAfter >= 0 && !g_swapped && g_tocReads >= g_swapAfter + 1 && g_swapDisc.file) {
    /* The disc is swapped between the Nth read of the table of contents and this one. */
    g_swapped = 1;
    g_mediaChanged = 1;
    g_unitAttention = 1;
    logf_("swap after %ld toc reads", g_swapAfter);
  }
  writeState(trayOpen());
}

/* --- paths and descriptors --- */

static int isDevice(const char* path) { return path && !strcmp(path, g_device); }
static int isAlias(const char* path) { return path && g_alias[0] && !strcmp(path, g_alias); }
static int isOurs(const char* path) {
  if (!path) return 0;
  init();
  return isDevice(path) || isAlias(path);
}

static int ourFd(int fd) {
  for (int i = 0; i < g_nfds; ++i)
    if (g_fds[i] == fd) return 1;
  return 0;
}

static void fillStat(struct stat* st) {
  memset(st, 0, sizeof *st);
  st->st_mode = S_IFBLK | 0660;
  st->st_rdev = makedev(11, 0); /* SCSI CD-ROM */
  st->st_gid = 24;              /* cdrom */
  st->st_blksize = 2048;
  st->st_nlink = 1;
  st->st_ino = 0x5d0;
  st->st_dev = makedev(0, 5);
}

static void fillLinkStat(struct stat* st) {
  memset(st, 0, sizeof *st);
  st->st_mode = S_IFLNK | 0777;
  st->st_size = 3;
  st->st_nlink = 1;
  st->st_ino = 0x5d1;
  st->st_dev = makedev(0, 5);
}

static void toStat64(const struct stat* s, struct stat64* d) {
  memset(d, 0, sizeof *d);
  d->st_mode = s->st_mode;
  d->st_rdev = s->st_rdev;
  d->st_gid = s->st_gid;
  d->st_blksize = s->st_blksize;
  d->st_nlink = s->st_nlink;
  d->st_ino = s->st_ino;
  d->st_dev = s->st_dev;
  d->st_size = s->st_size;
}

static int openOurs(const char* path) {
  if (g_eacces) {
    logf_("open %s EACCES", path);
    errno = EACCES;
    return -1;
  }
  /* A real descriptor number, so that nothing else can be handed the same one. */
  int fd = REAL(open)("/dev/null", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  pthread_mutex_lock(&g_lock);
  if (g_nfds < MAX_FDS) g_fds[g_nfds++] = fd;
  pthread_mutex_unlock(&g_lock);
  logf_("open %s -> %d", path, fd);
  return fd;
}

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (isOurs(path)) return openOurs(path);
  return REAL(open)(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (isOurs(path)) return openOurs(path);
  return REAL(open64)(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  if (isOurs(path)) return openOurs(path);
  return REAL(openat)(dirfd, path, flags, mode);
}

int close(int fd) {
  pthread_mutex_lock(&g_lock);
  for (int i = 0; i < g_nfds; ++i)
    if (g_fds[i] == fd) {
      g_fds[i] = g_fds[--g_nfds];
      break;
    }
  pthread_mutex_unlock(&g_lock);
  return REAL(close)(fd);
}

ssize_t read(int fd, void* buf, size_t n) {
  if (ourFd(fd)) {
    /* Only the data path reads the device node itself; an audio disc has none. */
    errno = EIO;
    return -1;
  }
  return REAL(read)(fd, buf, n);
}

int stat(const char* path, struct stat* st) {
  if (isOurs(path)) {
    fillStat(st);
    return 0;
  }
  return REAL(stat)(path, st);
}

int lstat(const char* path, struct stat* st) {
  if (isOurs(path)) {
    if (isAlias(path))
      fillLinkStat(st);
    else
      fillStat(st);
    return 0;
  }
  return REAL(lstat)(path, st);
}

int fstat(int fd, struct stat* st) {
  if (ourFd(fd)) {
    fillStat(st);
    return 0;
  }
  return REAL(fstat)(fd, st);
}

int stat64(const char* path, struct stat64* st) {
  if (isOurs(path)) {
    struct stat s;
    fillStat(&s);
    toStat64(&s, st);
    return 0;
  }
  return REAL(stat64)(path, st);
}

int lstat64(const char* path, struct stat64* st) {
  if (isOurs(path)) {
    struct stat s;
    if (isAlias(path))
      fillLinkStat(&s);
    else
      fillStat(&s);
    toStat64(&s, st);
    return 0;
  }
  return REAL(lstat64)(path, st);
}

int fstat64(int fd, struct stat64* st) {
  if (ourFd(fd)) {
    struct stat s;
    fillStat(&s);
    toStat64(&s, st);
    return 0;
  }
  return REAL(fstat64)(fd, st);
}

int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
  if (isOurs(path)) return (flags & AT_SYMLINK_NOFOLLOW) ? lstat(path, st) : stat(path, st);
  return REAL(fstatat)(dirfd, path, st, flags);
}

int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) {
  if (isOurs(path)) return (flags & AT_SYMLINK_NOFOLLOW) ? lstat64(path, st) : stat64(path, st);
  return REAL(fstatat64)(dirfd, path, st, flags);
}

int access(const char* path, int mode) {
  if (isOurs(path)) {
    if (g_eacces && mode != F_OK) {
      errno = EACCES;
      return -1;
    }
    return 0;
  }
  return REAL(access)(path, mode);
}

ssize_t readlink(const char* path, char* buf, size_t size) {
  if (isOurs(path)) {
    if (!isAlias(path)) {
      errno = EINVAL;
      return -1;
    }
    /* Relative, as udev writes it: "sr0" beside the link. */
    const char* target = strrchr(g_device, '/') ? strrchr(g_device, '/') + 1 : g_device;
    size_t n = strlen(target);
    if (n > size) n = size;
    memcpy(buf, target, n);
    return (ssize_t)n;
  }
  return REAL(readlink)(path, buf, size);
}

char* realpath(const char* path, char* resolved) {
  if (isOurs(path)) {
    char* out = resolved ? resolved : malloc(PATH_MAX);
    if (!out) return NULL;
    snprintf(out, PATH_MAX, "%s", g_device);
    return out;
  }
  return REAL(realpath)(path, resolved);
}

char* canonicalize_file_name(const char* path) { return realpath(path, NULL); }

/* --- the medium --- */

static uint32_t nextRandom(void) {
  g_seed = g_seed * 1664525u + 1013904223u;
  return g_seed;
}

/* Stereo frames [frame, frame + n) of the disc into out; outside the image, silence. */
static void readFrames(disc_t* d, long frame, long n, unsigned char* out) {
  memset(out, 0, (size_t)n * 4);
  long first = frame < 0 ? 0 : frame;
  long end = frame + n;
  if (end > d->leadout * FRAMES) end = d->leadout * FRAMES;
  if (end <= first) return;
  if (fseek(d->file, first * 4, SEEK_SET) != 0) return;
  size_t got = fread(out + (first - frame) * 4, 4, (size_t)(end - first), d->file);
  (void)got;
}

static void lsnToMsf(long lsn, unsigned char* m, unsigned char* s, unsigned char* f) {
  long a = lsn + 150;
  *m = (unsigned char)(a / 4500);
  *s = (unsigned char)((a / 75) % 60);
  *f = (unsigned char)(a % 75);
}

static int trackOf(disc_t* d, long lsn) {
  int t = 0;
  for (int i = 0; i < d->ntracks; ++i)
    if (lsn >= d->tracks[i].start) t = i;
  return t;
}

static long elapsedSectors(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  double s = (double)(now.tv_sec - g_playStart.tv_sec) + (now.tv_nsec - g_playStart.tv_nsec) / 1e9;
  return (long)(s * 75);
}

/* Where analog playback is: its sector and the audio status of the subchannel. */
static long playPosition(int* status) {
  if (g_playFirst < 0) {
    *status = CDROM_AUDIO_NO_STATUS;
    return 0;
  }
  if (g_pausedAt >= 0) {
    *status = CDROM_AUDIO_PAUSED;
    return g_pausedAt;
  }
  long at = g_playFirst + elapsedSectors();
  if (at > g_playLast) {
    *status = CDROM_AUDIO_COMPLETED;
    return g_playLast;
  }
  *status = CDROM_AUDIO_PLAY;
  return at;
}

static void startPlay(long first, long last) {
  g_playFirst = first;
  g_playLast = last;
  g_pausedAt = -1;
  clock_gettime(CLOCK_MONOTONIC, &g_playStart);
  logf_("play %ld-%ld", first, last);
}

static void pausePlay(int pause) {
  int st;
  if (g_playFirst < 0) return;
  if (pause && g_pausedAt < 0) {
    g_pausedAt = playPosition(&st);
    logf_("pause at %ld", g_pausedAt);
  } else if (!pause && g_pausedAt >= 0) {
    /* Resume where it paused: the clock starts again from there. */
    const long at = g_pausedAt;
    g_pausedAt = -1;
    clock_gettime(CLOCK_MONOTONIC, &g_playStart);
    g_playFirst = at;
    logf_("resume at %ld", at);
  }
}

static void stopPlay(void) {
  if (g_playFirst >= 0) logf_("stop");
  g_playFirst = -1;
  g_pausedAt = -1;
}

/* --- MMC packets --- */

static int sense(struct cdrom_generic_command* c, int key, int asc, int ascq) {
  if (c->sense) {
    unsigned char* s = (unsigned char*)c->sense;
    memset(s, 0, 18);
    s[0] = 0x70;
    s[2] = (unsigned char)key;
    s[7] = 10;
    s[12] = (unsigned char)asc;
    s[13] = (unsigned char)ascq;
  }
  c->stat = 2; /* CHECK CONDITION */
  errno = EIO;
  return -1;
}

static void put32(unsigned char* p, long v) {
  p[0] = (unsigned char)(v >> 24);
  p[1] = (unsigned char)(v >> 16);
  p[2] = (unsigned char)(v >> 8);
  p[3] = (unsigned char)v;
}

static void putAddr(unsigned char* p, long lsn, int msf) {
  if (msf) {
    p[0] = 0;
    lsnToMsf(lsn, &p[1], &p[2], &p[3]);
  } else {
    put32(p, lsn);
  }
}

static void reply(struct cdrom_generic_command* c, const unsigned char* data, size_t n) {
  if (!c->buffer) return;
  memset(c->buffer, 0, c->buflen);
  memcpy(c->buffer, data, n < c->buflen ? n : c->buflen);
}

static int readCd(struct cdrom_generic_command* c, disc_t* d) {
  const long lba = ((long)c->cmd[2] << 24) | ((long)c->cmd[3] << 16) | ((long)c->cmd[4] << 8) | c->cmd[5];
  const long count = ((long)c->cmd[6] << 16) | ((long)c->cmd[7] << 8) | c->cmd[8];
  if (count == 0) return 0;
  if (lba < 0 || lba + count > d->leadout) return sense(c, 5, 0x21, 0); /* LBA out of range */
  for (long s = lba; s < lba + count; ++s)
    if (inRanges(g_bad, g_nbad, s)) {
      logf_("read %ld+%ld medium error at %ld", lba, count, s);
      if (g_delayMs > 0) {
        struct timespec ts = {g_delayMs / 1000, (g_delayMs % 1000) * 1000000L};
        nanosleep(&ts, NULL);
      }
      return sense(c, 3, 0x11, 0); /* unrecovered read error */
    }
  ++g_audioReads;
  long shift = 0;
  if (g_jitterEvery > 0 && g_jitterMax > 0 && (g_audioReads + g_jitterPhase) % g_jitterEvery == 0) {
    shift = 1 + (long)(nextRandom() % (uint32_t)g_jitterMax);
    if (nextRandom() & 0x10000) shift = -shift;
  }
  const size_t per = c->buflen / (size_t)count; /* 2352, or more with C2/subchannel asked */
  unsigned char* sec = malloc(SECTOR);
  if (!sec) return sense(c, 4, 0, 0);
  for (long i = 0; i < count; ++i) {
    const long s = lba + i;
    readFrames(d, s * FRAMES + shift, FRAMES, sec);
    if (inRanges(g_scratch, g_nscratch, s))
      for (int k = 0; k < SECTOR; k += 2) sec[k] ^= (unsigned char)(nextRandom() >> 24);
    if (c->buffer && (size_t)(i + 1) * per <= c->buflen) {
      memset(c->buffer + (size_t)i * per, 0, per);
      memcpy(c->buffer + (size_t)i * per, sec, per < SECTOR ? per : SECTOR);
    }
  }
  free(sec);
  logf_("read %ld+%ld shift %ld", lba, count, shift);
  if (g_delayMs > 0) {
    struct timespec ts = {g_delayMs / 1000, (g_delayMs % 1000) * 1000000L};
    nanosleep(&ts, NULL);
  }
  c->stat = 0;
  return 0;
}

static int readToc(struct cdrom_generic_command* c, disc_t* d) {
  const int msf = (c->cmd[1] & 2) != 0;
  int format = c->cmd[2] & 0x0f;
  if (format == 0) format = (c->cmd[9] >> 6) & 3;
  unsigned char out[4 + 8 * (MAX_TRACKS + 1) + 11 * (MAX_TRACKS + 4)];
  memset(out, 0, sizeof out);
  size_t n = 4;
  if (format == 0) {
    countTocRead();
    d = disc();
    if (!d) return sense(c, 2, 0x3a, 0);
    out[2] = (unsigned char)d->tracks[0].number;
    out[3] = (unsigned char)d->tracks[d->ntracks - 1].number;
    for (int i = 0; i <= d->ntracks; ++i) {
      unsigned char* e = out + n;
      const int lead = i == d->ntracks;
      e[1] = (unsigned char)(0x10 | (lead || d->tracks[i].audio ? 0 : 4));
      e[2] = (unsigned char)(lead ? 0xAA : d->tracks[i].number);
      putAddr(e + 4, lead ? d->leadout : d->tracks[i].start, msf);
      n += 8;
    }
  } else if (format == 1) {
    out[2] = out[3] = 1;
    out[5] = 0x10 | (d->tracks[0].audio ? 0 : 4);
    out[6] = (unsigned char)d->tracks[0].number;
    putAddr(out + 8, d->tracks[0].start, msf);
    n = 12;
  } else {
    /* Full TOC, PMA, ATIP, CD-TEXT: a pressed disc without them. */
    return sense(c, 5, 0x24, 0);
  }
  out[0] = (unsigned char)((n - 2) >> 8);
  out[1] = (unsigned char)(n - 2);
  reply(c, out, n);
  c->stat = 0;
  return 0;
}

static int modeSense(struct cdrom_generic_command* c) {
  const int page = c->cmd[2] & 0x3f;
  const int ten = c->cmd[0] == 0x5a;
  unsigned char out[64];
  memset(out, 0, sizeof out);
  size_t hdr = ten ? 8 : 4;
  size_t n = hdr;
  if (page == 0x2a || page == 0x3f) {
    /* Capabilities and mechanical status. */
    unsigned char* p = out + hdr;
    p[0] = 0x2a;
    p[1] = 20;
    p[2] = 0x03;             /* reads CD-R, CD-RW */
    p[4] = 0x71;             /* audio play, composite, digital ports, multi-session */
    p[5] = 0x03 | 0x20;      /* CD-DA commands, accurate stream, C2 pointers */
    p[6] = 0x29;             /* lock, eject, tray loading mechanism */
    p[7] = 0x03;             /* separate volume, separate mute */
    p[8] = 0x1b; p[9] = 0x90;   /* maximum speed 7056 kB/s (40x) */
    p[10] = 0x01; p[11] = 0x00; /* 256 volume levels */
    p[12] = 0x00; p[13] = 0x80; /* buffer 128 kB */
    p[14] = 0x1b; p[15] = 0x90; /* current speed */
    n += 22;
  } else if (page == 0x01 || page == 0x0e) {
    unsigned char* p = out + hdr;
    p[0] = (unsigned char)page;
    p[1] = page == 0x01 ? 10 : 14;
    n += (size_t)p[1] + 2;
  } else {
    return sense(c, 5, 0x24, 0);
  }
  if (ten) {
    out[0] = (unsigned char)((n - 2) >> 8);
    out[1] = (unsigned char)(n - 2);
  } else {
    out[0] = (unsigned char)(n - 1);
  }
  reply(c, out, n);
  c->stat = 0;
  return 0;
}

static int subchannel(struct cdrom_generic_command* c, disc_t* d) {
  const int msf = (c->cmd[1] & 2) != 0;
  const int format = c->cmd[3];
  unsigned char out[48];
  memset(out, 0, sizeof out);
  int status;
  const long at = playPosition(&status);
  out[1] = (unsigned char)status;
  if (format == 1) {
    const int t = trackOf(d, at);
    out[3] = 12;
    out[4] = 1;
    out[5] = (unsigned char)(0x10 | (d->tracks[t].audio ? 0 : 4));
    out[6] = (unsigned char)d->tracks[t].number;
    out[7] = 1;
    putAddr(out + 8, at, msf);
    putAddr(out + 12, at - d->tracks[t].start, msf);
    reply(c, out, 16);
  } else {
    /* Media catalogue number and ISRC: none on this disc. */
    out[3] = 20;
    out[4] = (unsigned char)format;
    reply(c, out, 24);
  }
  c->stat = 0;
  return 0;
}

static int packet(struct cdrom_generic_command* c) {
  const unsigned char op = c->cmd[0];
  disc_t* d = disc();
  logf_("packet %02x", op);
  /* Commands that answer without a medium. */
  switch (op) {
    case 0x12: { /* INQUIRY */
      unsigned char out[96];
      memset(out, ' ', sizeof out);
      out[0] = 5; /* CD/DVD device */
      out[1] = 0x80;
      out[2] = 5;
      out[3] = 0x32;
      out[4] = 31;
      out[5] = out[6] = out[7] = 0;
      memcpy(out + 8, g_vendor, strlen(g_vendor));
      memcpy(out + 16, g_model, strlen(g_model));
      memcpy(out + 32, "1.00", 4);
      reply(c, out, 36);
      c->stat = 0;
      return 0;
    }
    case 0x03: { /* REQUEST SENSE */
      unsigned char out[18] = {0x70, 0, 0, 0, 0, 0, 0, 10};
      reply(c, out, sizeof out);
      c->stat = 0;
      return 0;
    }
    case 0x1b: /* START STOP UNIT */
      if (c->cmd[4] & 2) {
        setTray(!(c->cmd[4] & 1));
        logf_("tray %s", (c->cmd[4] & 1) ? "closed" : "open");
      }
      stopPlay();
      c->stat = 0;
      return 0;
    case 0x1e: /* PREVENT ALLOW MEDIUM REMOVAL */
    case 0xbb: /* SET CD SPEED */
    case 0xb6: /* SET STREAMING */
    case 0x15: /* MODE SELECT */
    case 0x55:
      c->stat = 0;
      return 0;
    case 0x1a: /* MODE SENSE */
    case 0x5a:
      return modeSense(c);
    case 0x46: { /* GET CONFIGURATION: a CD-ROM drive */
      unsigned char out[16] = {0, 0, 0, 12, 0, 0, 0, d ? 0x08 : 0x00, 0, 0, 0x03, 4, 0, 0x08, 1, 0};
      reply(c, out, sizeof out);
      c->stat = 0;
      return 0;
    }
    case 0x4a: { /* GET EVENT STATUS NOTIFICATION, media class */
      unsigned char out[8] = {0, 6, 4, 0x10, 0, (unsigned char)(d ? 2 : (trayOpen() ? 1 : 0)), 0, 0};
      reply(c, out, sizeof out);
      c->stat = 0;
      return 0;
    }
  }
  if (g_unitAttention) {
    g_unitAttention = 0;
    return sense(c, 6, 0x28, 0); /* not ready to ready change, medium may have changed */
  }
  if (!d) return sense(c, 2, 0x3a, trayOpen() ? 2 : 1); /* medium not present */
  switch (op) {
    case 0x00: /* TEST UNIT READY */
      c->stat = 0;
      return 0;
    case 0xbe: /* READ CD */
      return readCd(c, d);
    case 0x43: /* READ TOC/PMA/ATIP */
      return readToc(c, d);
    case 0x42: /* READ SUB-CHANNEL */
      return subchannel(c, d);
    case 0x25: { /* READ CAPACITY */
      unsigned char out[8];
      put32(out, d->leadout - 1);
      put32(out + 4, 2048);
      reply(c, out, sizeof out);
      c->stat = 0;
      return 0;
    }
    case 0x51: { /* READ DISC INFORMATION: a finalised pressed disc */
      unsigned char out[34] = {0, 32, 0x0e, 1, 1, 1, 1, 0x20};
      reply(c, out, sizeof out);
      c->stat = 0;
      return 0;
    }
    case 0x47: /* PLAY AUDIO MSF */
      startPlay(msfToLsn(c->cmd[3], c->cmd[4], c->cmd[5]) - 150, msfToLsn(c->cmd[6], c->cmd[7], c->cmd[8]) - 150);
      c->stat = 0;
      return 0;
    case 0x4b: /* PAUSE/RESUME */
      pausePlay(!(c->cmd[8] & 1));
      c->stat = 0;
      return 0;
    case 0x4e: /* STOP PLAY/SCAN */
      stopPlay();
      c->stat = 0;
      return 0;
    case 0x28: /* READ(10): an audio disc has no user data to give */
      return sense(c, 5, 0x64, 0);
  }
  logf_("packet %02x ?", op);
  return sense(c, 5, 0x20, 0); /* invalid command operation code */
}

/* --- ioctls --- */

static int fail(int e) {
  errno = e;
  return -1;
}

static int cdromIoctl(unsigned long req, void* arg) {
  disc_t* d = disc();
  switch (req) {
    case CDROM_GET_CAPABILITY:
      return CDC_CLOSE_TRAY | CDC_OPEN_TRAY | CDC_LOCK | CDC_SELECT_SPEED | CDC_MULTI_SESSION | CDC_MCN |
             CDC_MEDIA_CHANGED | CDC_PLAY_AUDIO | CDC_DRIVE_STATUS | CDC_GENERIC_PACKET;
    case CDROM_DRIVE_STATUS:
      return trayOpen() ? CDS_TRAY_OPEN : (d ? CDS_DISC_OK : CDS_NO_DISC);
    case CDROM_DISC_STATUS: {
      if (!d) return trayOpen() ? CDS_TRAY_OPEN : CDS_NO_DISC;
      int data = 0;
      for (int i = 0; i < d->ntracks; ++i) data |= !d->tracks[i].audio;
      return data ? CDS_MIXED : CDS_AUDIO;
    }
    case CDROM_MEDIA_CHANGED: {
      const int changed = g_mediaChanged;
      g_mediaChanged = 0;
      return changed;
    }
    case CDROMREADTOCHDR: {
      countTocRead();
      d = disc();
      if (!d) return fail(ENOMEDIUM);
      struct cdrom_tochdr* h = arg;
      h->cdth_trk0 = (unsigned char)d->tracks[0].number;
      h->cdth_trk1 = (unsigned char)d->tracks[d->ntracks - 1].number;
      return 0;
    }
    case CDROMREADTOCENTRY: {
      if (!d) return fail(ENOMEDIUM);
      struct cdrom_tocentry* e = arg;
      long lsn;
      int audio = 1;
      if (e->cdte_track == CDROM_LEADOUT) {
        lsn = d->leadout;
      } else {
        int i = 0;
        while (i < d->ntracks && d->tracks[i].number != e->cdte_track) ++i;
        if (i == d->ntracks) return fail(EINVAL);
        lsn = d->tracks[i].start;
        audio = d->tracks[i].audio;
      }
      e->cdte_adr = 1;
      e->cdte_ctrl = audio ? 0 : CDROM_DATA_TRACK;
      e->cdte_datamode = audio ? 0 : 1;
      if (e->cdte_format == CDROM_MSF) {
        lsnToMsf(lsn, &e->cdte_addr.msf.minute, &e->cdte_addr.msf.second, &e->cdte_addr.msf.frame);
      } else {
        e->cdte_addr.lba = (int)lsn;
      }
      return 0;
    }
    case CDROMMULTISESSION: {
      if (!d) return fail(ENOMEDIUM);
      struct cdrom_multisession* m = arg;
      m->xa_flag = 0;
      if (m->addr_format == CDROM_MSF)
        lsnToMsf(0, &m->addr.msf.minute, &m->addr.msf.second, &m->addr.msf.frame);
      else
        m->addr.lba = 0;
      return 0;
    }
    case CDROM_GET_MCN:
      return fail(ENOSYS);
    case CDROMEJECT:
      stopPlay();
      setTray(1);
      logf_("tray open");
      return 0;
    case CDROMCLOSETRAY:
      setTray(0);
      logf_("tray closed");
      return 0;
    case CDROM_LOCKDOOR:
    case CDROM_SELECT_SPEED:
    case CDROM_SET_OPTIONS:
    case CDROM_CLEAR_OPTIONS:
    case CDROMEJECT_SW:
      return 0;
    case CDROMPLAYMSF: {
      if (!d) return fail(ENOMEDIUM);
      struct cdrom_msf* m = arg;
      startPlay(msfToLsn(m->cdmsf_min0, m->cdmsf_sec0, m->cdmsf_frame0) - 150,
                msfToLsn(m->cdmsf_min1, m->cdmsf_sec1, m->cdmsf_frame1) - 150);
      return 0;
    }
    case CDROMPAUSE:
      pausePlay(1);
      return 0;
    case CDROMRESUME:
      pausePlay(0);
      return 0;
    case CDROMSTOP:
      stopPlay();
      return 0;
    case CDROMSUBCHNL: {
      if (!d) return fail(ENOMEDIUM);
      struct cdrom_subchnl* s = arg;
      int status;
      const long at = playPosition(&status);
      const int t = trackOf(d, at);
      s->cdsc_audiostatus = (unsigned char)status;
      s->cdsc_adr = 1;
      s->cdsc_ctrl = d->tracks[t].audio ? 0 : CDROM_DATA_TRACK;
      s->cdsc_trk = (unsigned char)d->tracks[t].number;
      s->cdsc_ind = 1;
      if (s->cdsc_format == CDROM_MSF) {
        lsnToMsf(at, &s->cdsc_absaddr.msf.minute, &s->cdsc_absaddr.msf.second, &s->cdsc_absaddr.msf.frame);
        const long rel = at - d->tracks[t].start;
        s->cdsc_reladdr.msf.minute = (unsigned char)(rel / 4500);
        s->cdsc_reladdr.msf.second = (unsigned char)((rel / 75) % 60);
        s->cdsc_reladdr.msf.frame = (unsigned char)(rel % 75);
      } else {
        s->cdsc_absaddr.lba = (int)at;
        s->cdsc_reladdr.lba = (int)(at - d->tracks[t].start);
      }
      return 0;
    }
    case CDROMVOLREAD: {
      struct cdrom_volctrl* v = arg;
      v->channel0 = v->channel1 = 255;
      v->channel2 = v->channel3 = 0;
      return 0;
    }
    case CDROMVOLCTRL:
      return 0;
    case SCSI_IOCTL_GET_IDLUN: {
      /* host 1, channel 0, id 0, lun 0, as the first SATA drive */
      int* idlun = arg;
      idlun[0] = 1 << 24;
      idlun[1] = 1;
      return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
      *(int*)arg = 1;
      return 0;
    case CDROM_SEND_PACKET:
      return packet(arg);
  }
  logf_("ioctl %#lx ?", req);
  return fail(ENOTTY);
}

int ioctl(int fd, unsigned long req, ...) {
  va_list ap;
  va_start(ap, req);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (!ourFd(fd)) return REAL(ioctl)(fd, req, arg);
  pthread_mutex_lock(&g_lock);
  if (req != CDROM_SEND_PACKET) logf_("ioctl %#lx", req);
  const int rc = cdromIoctl(req, arg);
  const int e = errno;
  pthread_mutex_unlock(&g_lock);
  errno = e;
  return rc;
}

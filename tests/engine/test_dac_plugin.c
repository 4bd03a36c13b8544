/* A restricted test DAC, as an ALSA external PCM plugin built only for the
 * tests: it takes nothing but integer formats (S16_LE and S32_LE unless told
 * otherwise) at 44.1, 48, 96 and 192 kHz, consumes frames in real time,
 * records every byte it receives, and can be told by its configuration to be
 * busy at open or to vanish (-ENODEV) after a number of frames, like an
 * unplugged USB DAC.
 *
 *   pcm.name { type quorveltestdac  record "/path/file.raw"
 *              busy false  fail_after -1  formats "S16_LE S24_3LE S32_LE"
 *              card 0  lock "/path/file.lock"  timing "/path/file.bin" }
 *
 * `card` is for the player alone: it reads the DAC as playing on that card
 * index, as a hw PCM would, and reserves the card before opening it. With
 * `lock`, the DAC is open to one user at a time, as a hw PCM is: an open
 * while another is open fails with -EBUSY.
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#define MAX_FORMATS 8

typedef struct {
    snd_pcm_ioplug_t io;
    unsigned int formats[MAX_FORMATS];
    unsigned int format_count;
    char *record_path;
    FILE *record;
    int record_is_pipe;
    char *timing_path;
    FILE *timing;             /* per transfer: when, where, how many, played so far */
    long long fail_after;     /* frames; negative: never */
    long long received;       /* frames handed to transfer since open */
    long long record_base;    /* frames recorded before the current start */
    long long consumed_base;  /* frames consumed before the current start */
    struct timespec started;
    int running;
    int gone;
    int lock_fd;
} test_dac;

static long long elapsed_frames(const test_dac *dac)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double seconds = (double)(now.tv_sec - dac->started.tv_sec)
                           + (double)(now.tv_nsec - dac->started.tv_nsec) / 1e9;
    return (long long)(seconds * dac->io.rate);
}

static void arm_timer(test_dac *dac, int on)
{
    struct itimerspec timer;
    memset(&timer, 0, sizeof timer);
    if (on) {
        const long ns = (long)(1e9 * (double)dac->io.period_size / dac->io.rate);
        timer.it_interval.tv_sec = ns / 1000000000L;
        timer.it_interval.tv_nsec = ns % 1000000000L;
        timer.it_value = timer.it_interval;
    }
    timerfd_settime(dac->io.poll_fd, 0, &timer, NULL);
}

/* Frames played since the current start, never past what was written. */
static long long played_frames(const test_dac *dac)
{
    long long position = dac->consumed_base;
    if (dac->running)
        position += elapsed_frames(dac);
    const long long written = (long long)dac->io.appl_ptr;
    return position > written ? written : position;
}

/* Four 64-bit numbers a transfer: the monotonic time in ns, the record's
 * frame the transfer begins at (-1 for a stop), its frame count, and the
 * record's frame playing then; a frame p of it sounds at
 * time + (p - playing) / rate. */
static void log_transfer(test_dac *dac, long long first, snd_pcm_uframes_t size)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long line[4] = {(long long)now.tv_sec * 1000000000LL + now.tv_nsec,
                               first, (long long)size,
                               dac->record_base + played_frames(dac)};
    fwrite(line, sizeof line, 1, dac->timing);
}

static int dac_start(snd_pcm_ioplug_t *io)
{
    test_dac *dac = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &dac->started);
    dac->running = 1;
    arm_timer(dac, 1);
    return 0;
}

static int dac_stop(snd_pcm_ioplug_t *io)
{
    test_dac *dac = io->private_data;
    if (dac->timing)
        log_transfer(dac, -1, 0); /* nothing sounds after this */
    dac->running = 0;
    arm_timer(dac, 0);
    return 0;
}

/* Consumes in real time, never past what was written. */
static snd_pcm_sframes_t dac_pointer(snd_pcm_ioplug_t *io)
{
    test_dac *dac = io->private_data;
    if (dac->gone)
        return -ENODEV;
    return (snd_pcm_sframes_t)(played_frames(dac) % (long long)io->buffer_size);
}

static snd_pcm_sframes_t dac_transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                      snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    test_dac *dac = io->private_data;
    if (dac->fail_after >= 0 && dac->received >= dac->fail_after)
        dac->gone = 1;
    if (dac->gone)
        return -ENODEV;
    const size_t frame_bytes = (size_t)snd_pcm_format_physical_width(io->format) / 8 * io->channels;
    const char *data = (const char *)areas[0].addr + (areas[0].first + offset * areas[0].step) / 8;
    if (dac->timing)
        log_transfer(dac, dac->record_base + (long long)io->appl_ptr, size);
    if (dac->record) {
        /* Frames the player took back (a rewind) were never heard: the
         * record keeps the stream as it sounds, so new ones overwrite them. */
        const off_t at = (off_t)(dac->record_base + (long long)io->appl_ptr) * (off_t)frame_bytes;
        fflush(dac->record);
        /* A pipe (a benchmark reading as it plays) takes the frames as they
         * come: it cannot be cut. */
        if (dac->record_is_pipe
            || (ftruncate(fileno(dac->record), at) == 0 && fseeko(dac->record, at, SEEK_SET) == 0))
            fwrite(data, frame_bytes, size, dac->record);
    }
    dac->received += (long long)size;
    return (snd_pcm_sframes_t)size;
}

static int dac_prepare(snd_pcm_ioplug_t *io)
{
    test_dac *dac = io->private_data;
    dac->consumed_base = 0;
    dac->running = 0;
    if (dac->record) {
        const size_t frame_bytes = (size_t)snd_pcm_format_physical_width(io->format) / 8 * io->channels;
        fseeko(dac->record, 0, SEEK_END);
        dac->record_base = (long long)ftello(dac->record) / (long long)frame_bytes;
    }
    return dac->gone ? -ENODEV : 0;
}

static int dac_hw_params(snd_pcm_ioplug_t *io, snd_pcm_hw_params_t *params)
{
    (void)params;
    test_dac *dac = io->private_data;
    if (dac->record)
        fclose(dac->record);
    dac->record = dac->record_path ? fopen(dac->record_path, "wb") : NULL;
    dac->record_base = 0;
    struct stat st;
    dac->record_is_pipe = dac->record && fstat(fileno(dac->record), &st) == 0 && S_ISFIFO(st.st_mode);
    if (dac->timing)
        fclose(dac->timing);
    dac->timing = dac->timing_path ? fopen(dac->timing_path, "wb") : NULL;
    if (dac->timing)
        setvbuf(dac->timing, NULL, _IONBF, 0);
    if (dac->record)
        setvbuf(dac->record, NULL, _IONBF, 0); /* the test reads it while playing */
    return 0;
}

static int dac_poll_revents(snd_pcm_ioplug_t *io, struct pollfd *pfd, unsigned int nfds,
                            unsigned short *revents)
{
    test_dac *dac = io->private_data;
    (void)nfds;
    if (pfd[0].revents & POLLIN) {
        unsigned long long ticks;
        if (read(io->poll_fd, &ticks, sizeof ticks) < 0)
            ticks = 0;
    }
    *revents = dac->gone ? POLLERR : (pfd[0].revents & POLLIN) ? POLLOUT : 0;
    return 0;
}

static int dac_close(snd_pcm_ioplug_t *io)
{
    test_dac *dac = io->private_data;
    if (dac->record)
        fclose(dac->record);
    if (dac->timing)
        fclose(dac->timing);
    free(dac->timing_path);
    close(io->poll_fd);
    if (dac->lock_fd >= 0)
        close(dac->lock_fd);
    free(dac->record_path);
    free(dac);
    return 0;
}

static const snd_pcm_ioplug_callback_t dac_callbacks = {
    .start = dac_start,
    .stop = dac_stop,
    .pointer = dac_pointer,
    .transfer = dac_transfer,
    .close = dac_close,
    .hw_params = dac_hw_params,
    .prepare = dac_prepare,
    .poll_revents = dac_poll_revents,
};

static int restrict_hardware(snd_pcm_ioplug_t *io, const test_dac *dac)
{
    static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int rates[] = {44100, 48000, 96000, 192000};
    int err;
    if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access)) < 0
        || (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, dac->format_count,
                                                 dac->formats)) < 0
        || (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_RATE, 4, rates)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 8)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 256, 1 << 20)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0)
        return err;
    return 0;
}

/* A space-separated list of ALSA format names. */
static int read_formats(const char *list, test_dac *dac)
{
    char copy[256], *save = NULL;
    snprintf(copy, sizeof copy, "%s", list);
    dac->format_count = 0;
    for (char *name = strtok_r(copy, " ", &save); name; name = strtok_r(NULL, " ", &save)) {
        const snd_pcm_format_t format = snd_pcm_format_value(name);
        if (format == SND_PCM_FORMAT_UNKNOWN || dac->format_count == MAX_FORMATS)
            return -EINVAL;
        dac->formats[dac->format_count++] = (unsigned int)format;
    }
    return dac->format_count > 0 ? 0 : -EINVAL;
}

/* One open at a time: flock() holds per open file, so two opens in one
 * process exclude each other too. */
static int take_lock(test_dac *dac, const char *path)
{
    dac->lock_fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (dac->lock_fd < 0)
        return -errno;
    return flock(dac->lock_fd, LOCK_EX | LOCK_NB) < 0 ? -EBUSY : 0;
}

static int read_config(snd_config_t *conf, test_dac *dac, int *busy)
{
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t *n = snd_config_iterator_entry(i);
        const char *id;
        if (snd_config_get_id(n, &id) < 0)
            continue;
        if (!strcmp(id, "comment") || !strcmp(id, "type") || !strcmp(id, "hint") || !strcmp(id, "card"))
            continue;
        if (!strcmp(id, "record")) {
            const char *path;
            if (snd_config_get_string(n, &path) < 0)
                return -EINVAL;
            dac->record_path = strdup(path);
        } else if (!strcmp(id, "timing")) {
            const char *path;
            if (snd_config_get_string(n, &path) < 0)
                return -EINVAL;
            dac->timing_path = strdup(path);
        } else if (!strcmp(id, "busy")) {
            *busy = snd_config_get_bool(n) > 0;
        } else if (!strcmp(id, "fail_after")) {
            long value;
            if (snd_config_get_integer(n, &value) < 0)
                return -EINVAL;
            dac->fail_after = value;
        } else if (!strcmp(id, "lock")) {
            const char *path;
            int err;
            if (snd_config_get_string(n, &path) < 0)
                return -EINVAL;
            if ((err = take_lock(dac, path)) < 0)
                return err;
        } else if (!strcmp(id, "formats")) {
            const char *list;
            if (snd_config_get_string(n, &list) < 0 || read_formats(list, dac) < 0)
                return -EINVAL;
        } else {
            return -EINVAL;
        }
    }
    return 0;
}

static int discard(test_dac *dac, int err)
{
    if (dac->io.poll_fd >= 0)
        close(dac->io.poll_fd);
    if (dac->lock_fd >= 0)
        close(dac->lock_fd);
    free(dac->record_path);
    free(dac->timing_path);
    free(dac);
    return err;
}

SND_PCM_PLUGIN_DEFINE_FUNC(quorveltestdac)
{
    (void)root;
    int busy = 0, err;
    if (stream != SND_PCM_STREAM_PLAYBACK)
        return -EINVAL;
    test_dac *dac = calloc(1, sizeof *dac);
    if (!dac)
        return -ENOMEM;
    dac->fail_after = -1;
    dac->io.poll_fd = -1;
    dac->lock_fd = -1;
    dac->formats[0] = SND_PCM_FORMAT_S16_LE;
    dac->formats[1] = SND_PCM_FORMAT_S32_LE;
    dac->format_count = 2;
    if ((err = read_config(conf, dac, &busy)) < 0)
        return discard(dac, err);
    if (busy)
        return discard(dac, -EBUSY);
    dac->io.version = SND_PCM_IOPLUG_VERSION;
    dac->io.name = "Quorvel test DAC";
    dac->io.callback = &dac_callbacks;
    dac->io.private_data = dac;
    dac->io.poll_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    dac->io.poll_events = POLLIN;
    if ((err = snd_pcm_ioplug_create(&dac->io, name, stream, mode)) < 0)
        return discard(dac, err);
    if ((err = restrict_hardware(&dac->io, dac)) < 0) {
        snd_pcm_ioplug_delete(&dac->io);
        return err;
    }
    *pcmp = dac->io.pcm;
    return 0;
}
SND_PCM_PLUGIN_SYMBOL(quorveltestdac)

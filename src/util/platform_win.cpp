#include "util/platform.h"

#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>
// After windows.h, which it builds on.
#include <taskschd.h>

#include "util/str.h"

static char g_stdout_buf[1 << 16];

void plat_stdout_init(void) {
    // Text mode would turn every LF of the header blocks into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    setvbuf(stdout, g_stdout_buf, _IOFBF, sizeof g_stdout_buf);
}

int plat_gmtime(int64_t t, struct tm *out) {
    __time64_t tt = (__time64_t)t;
    return _gmtime64_s(out, &tt) == 0;
}

void plat_prepare_pages(void *, size_t) {}

void plat_stdout_expect_long(void) {}

int plat_localtime(int64_t t, struct tm *out) {
    __time64_t tt = (__time64_t)t;
    return _localtime64_s(out, &tt) == 0;
}

// Paths are UTF-8 in the program and wide characters for Win32: the task
// folder holds names in any language. A path that is no UTF-8 (an ANSI
// CRONTAB_FILE) is handed to the C runtime as it is.

enum { WIDE_PATH_CAP = 4096 };

// Converts a UTF-8 path to wide characters in out (capacity WIDE_PATH_CAP),
// with suffix (ASCII) appended. Returns 0 when it is no UTF-8 or too long.
static int wide_path(const char *path, const wchar_t *suffix, wchar_t *out) {
    const int n =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, out, WIDE_PATH_CAP - 8);
    if (n <= 0) return 0;
    const size_t len = wcslen(out), extra = wcslen(suffix);
    if (len + extra + 1 > WIDE_PATH_CAP) return 0;
    memcpy(out + len, suffix, (extra + 1) * sizeof(wchar_t));
    return 1;
}

static void info_from_attributes(DWORD attributes, DWORD size_high, DWORD size_low,
                                 plat_file_info *out) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        out->kind = PLAT_LINK;
    else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        out->kind = PLAT_FOLDER;
    else if (attributes & FILE_ATTRIBUTE_DEVICE)
        out->kind = PLAT_OTHER;
    else
        out->kind = PLAT_REGULAR;
    out->size = (int64_t)((uint64_t)size_high << 32 | size_low);
    out->mode = attributes & FILE_ATTRIBUTE_READONLY ? 0444 : 0644;
}

int plat_lstat(const char *path, plat_file_info *out) {
    *out = plat_file_info{};
    static wchar_t wide[WIDE_PATH_CAP];
    if (!wide_path(path, L"", wide)) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide, GetFileExInfoStandard, &data)) return 0;
    info_from_attributes(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, out);
    return 1;
}

int plat_stat(const char *path, plat_file_info *out) {
    *out = plat_file_info{};
    static wchar_t wide[WIDE_PATH_CAP];
    if (!wide_path(path, L"", wide)) return 0;
    // Opened without access rights, links followed, folders too (backup
    // semantics): a link that leads nowhere or in a loop cannot be opened.
    HANDLE h = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info;
    const DWORD type = GetFileType(h);
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) {
        out->kind = type == FILE_TYPE_DISK ? PLAT_REGULAR : PLAT_OTHER;
        return 1;
    }
    info_from_attributes(info.dwFileAttributes & ~(DWORD)FILE_ATTRIBUTE_REPARSE_POINT,
                         info.nFileSizeHigh, info.nFileSizeLow, out);
    if (type != FILE_TYPE_DISK) out->kind = PLAT_OTHER;
    return 1;
}

int plat_readlink(const char *, char *out, size_t cap) {
    if (cap) out[0] = 0;
    return 0;
}

int plat_exists(const char *path) {
    plat_file_info info;
    return plat_stat(path, &info);
}

int plat_is_executable(const char *) {
    return 0;
}

// The names are kept as a max-heap while the folder is read, so that the cap
// smallest stay whatever the folder's size; the heap is sorted at the end.
// Byte order of the UTF-8 names, as on POSIX systems.

static void swap_rows(plat_name *a, plat_name *b) {
    const size_t la = strlen(a->s), lb = strlen(b->s);
    const size_t n = (la > lb ? la : lb) + 1;
    char t[PLAT_NAME_CAP];
    memcpy(t, a->s, n);
    memcpy(a->s, b->s, n);
    memcpy(b->s, t, n);
}

static void sift_down(plat_name *h, int n, int i) {
    for (;;) {
        int big = i, l = 2 * i + 1, r = l + 1;
        if (l < n && strcmp(h[l].s, h[big].s) > 0) big = l;
        if (r < n && strcmp(h[r].s, h[big].s) > 0) big = r;
        if (big == i) return;
        swap_rows(&h[i], &h[big]);
        i = big;
    }
}

static void sift_up(plat_name *h, int i) {
    while (i > 0) {
        int parent = (i - 1) / 2;
        if (strcmp(h[parent].s, h[i].s) >= 0) return;
        swap_rows(&h[parent], &h[i]);
        i = parent;
    }
}

// Adds one entry name to the listing of up to cap rows in names (n so far),
// keeping the smallest names when there are more.
static void list_add(const char *name, plat_name *names, int cap, int *n, int *left_out) {
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return;
    const size_t len = strlen(name);
    if (len >= PLAT_NAME_CAP) {
        *left_out = 1;
        return;
    }
    if (*n < cap) {
        memcpy(names[*n].s, name, len + 1);
        sift_up(names, (*n)++);
    } else {
        *left_out = 1;
        if (cap == 0 || strcmp(name, names[0].s) >= 0) return;
        memcpy(names[0].s, name, len + 1);
        sift_down(names, *n, 0);
    }
}

int plat_list_dir(const char *path, plat_name *names, int cap, int *left_out) {
    *left_out = 0;
    static wchar_t pattern[WIDE_PATH_CAP];
    if (!wide_path(path, L"\\*", pattern)) return -1;
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileExW(pattern, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                FIND_FIRST_EX_LARGE_FETCH);
    if (h == INVALID_HANDLE_VALUE) return -1;
    int n = 0;
    do {
        char name[PLAT_NAME_CAP * 2];
        const int k = WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name, (int)sizeof name,
                                          nullptr, nullptr);
        if (k <= 0) {
            *left_out = 1;
            continue;
        }
        list_add(name, names, cap, &n, left_out);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    for (int end = n - 1; end > 0; end--) {
        swap_rows(&names[0], &names[end]);
        sift_down(names, end, 0);
    }
    return n;
}

int plat_list_dir_where(const char *, int (*)(const char *), plat_name *, int, int *left_out) {
    *left_out = 0;
    return -1;
}

int plat_open_read(const char *path) {
    static wchar_t wide[WIDE_PATH_CAP];
    if (wide_path(path, L"", wide)) {
        HANDLE h =
            CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return -1;
        // Devices (CON, NUL, COM1) and pipes are no files to read; a folder
        // does not open without backup semantics.
        if (GetFileType(h) != FILE_TYPE_DISK) {
            CloseHandle(h);
            return -1;
        }
        const int fd = _open_osfhandle((intptr_t)h, _O_RDONLY | _O_BINARY);
        if (fd < 0) CloseHandle(h);
        return fd < 0 ? -1 : fd;
    }
    int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return -1;
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        _close(fd);
        return -1;
    }
    return fd;
}

int64_t plat_read(int handle, char *buf, size_t cap) {
    const unsigned n = cap > 1u << 30 ? 1u << 30 : (unsigned)cap;
    return (int64_t)_read(handle, buf, n);
}

int64_t plat_read_at(int handle, int64_t offset, char *buf, size_t cap) {
    if (_lseeki64(handle, offset, SEEK_SET) < 0) return -1;
    return plat_read(handle, buf, cap);
}

void plat_close(int handle) {
    if (handle >= 0) _close(handle);
}

// Time spent waiting for the child's output, counted by the waits
// themselves: a second bound that holds even where the clock is frozen.
static int64_t g_waited_ms, g_wait_limit_ms;

// The child's process handle is kept in pid and its pipe as a C runtime
// descriptor in fd, so that the record is the same on both systems.
static HANDLE child_process(const plat_child *c) {
    return (HANDLE)(intptr_t)c->pid;
}

// Appends arg to the command line, quoted when it holds a blank; returns 0
// when it does not fit.
static int append_arg(char *line, size_t cap, const char *arg) {
    size_t len = strlen(line);
    const int quote = strchr(arg, ' ') != nullptr || strchr(arg, '\t') != nullptr || !arg[0];
    const size_t need = strlen(arg) + (len ? 1 : 0) + (quote ? 2 : 0);
    if (strchr(arg, '"') || len + need + 1 > cap) return 0;
    snprintf(line + len, cap - len, "%s%s%s%s", len ? " " : "", quote ? "\"" : "", arg,
             quote ? "\"" : "");
    return 1;
}

int plat_child_start(plat_child *c, const char *const *argv, int64_t timeout_ms) {
    c->pid = -1;
    c->fd = -1;
    c->timed_out = 0;
    c->deadline = plat_monotonic_ms() + timeout_ms;
    g_waited_ms = 0;
    g_wait_limit_ms = timeout_ms;
    char line[1024] = "";
    for (const char *const *a = argv; *a; a++)
        if (!append_arg(line, sizeof line, *a)) return 0;
    // Looked up along PATH, in its order, as a shell would; CreateProcess on
    // its own would prefer the system folders.
    char search[4096], program[MAX_PATH];
    const DWORD plen = GetEnvironmentVariableA("PATH", search, sizeof search);
    if (plen == 0 || plen >= sizeof search) return 0;
    if (!SearchPathA(search, argv[0], ".exe", sizeof program, program, nullptr)) return 0;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE read_end, write_end;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) return 0;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul_in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                OPEN_EXISTING, 0, nullptr);
    HANDLE nul_out = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                 OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul_in;
    si.hStdOutput = write_end;
    si.hStdError = nul_out;
    PROCESS_INFORMATION pi;
    // No shell: the program gets the arguments as they are.
    const BOOL ok = CreateProcessA(program, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &si, &pi);
    CloseHandle(write_end);
    if (nul_in != INVALID_HANDLE_VALUE) CloseHandle(nul_in);
    if (nul_out != INVALID_HANDLE_VALUE) CloseHandle(nul_out);
    if (!ok) {
        CloseHandle(read_end);
        return 0;
    }
    CloseHandle(pi.hThread);
    c->fd = _open_osfhandle((intptr_t)read_end, _O_RDONLY | _O_BINARY);
    if (c->fd < 0) {
        CloseHandle(read_end);
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        return 0;
    }
    c->pid = (int64_t)(intptr_t)pi.hProcess;
    return 1;
}

int64_t plat_child_read(plat_child *c, char *buf, size_t cap) {
    if (c->fd < 0) return c->timed_out ? -1 : 0;
    HANDLE pipe = (HANDLE)_get_osfhandle(c->fd);
    // Anonymous pipes cannot wait with a limit, so the pipe is polled.
    while (plat_monotonic_ms() < c->deadline && g_waited_ms < g_wait_limit_ms) {
        DWORD avail = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &avail, nullptr)) return 0; // writer gone
        if (avail == 0) {
            Sleep(5);
            g_waited_ms += 5;
            continue;
        }
        DWORD n = 0;
        if (!ReadFile(pipe, buf, (DWORD)(cap < avail ? cap : avail), &n, nullptr)) return 0;
        return (int64_t)n;
    }
    c->timed_out = 1;
    if (c->pid > 0) TerminateProcess(child_process(c), 1);
    _close(c->fd);
    c->fd = -1;
    return -1;
}

void plat_child_end(plat_child *c) {
    if (c->fd >= 0) {
        _close(c->fd);
        c->fd = -1;
    }
    if (c->pid <= 0) return;
    HANDLE process = child_process(c);
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    c->pid = -1;
}

int64_t plat_monotonic_ms(void) {
    return (int64_t)GetTickCount64();
}

void plat_user_name(const char *, char *out, size_t cap) {
    if (!cap) return;
    const char *v = getenv("USERNAME");
    snprintf(out, cap, "%s", v ? v : "");
}

uint32_t plat_uid(void) {
    return 0;
}

int plat_utc_offset(int64_t t, int32_t *offset) {
    struct tm local, utc;
    if (!plat_localtime(t, &local) || !plat_gmtime(t, &utc)) return 0;
    int64_t days = (int64_t)(local.tm_yday - utc.tm_yday);
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    *offset = (int32_t)(days * 86400 + (local.tm_hour - utc.tm_hour) * 3600 +
                        (local.tm_min - utc.tm_min) * 60 + (local.tm_sec - utc.tm_sec));
    return 1;
}

// Named zones need the zone database, which Windows does not have: only the
// process's own zone and UTC are offered.
int plat_zone_exists(const char *) {
    return 0;
}

int plat_zone_push(const char *) {
    return 0;
}

void plat_zone_pop(void) {}

int64_t plat_mktime(struct tm *tm, int utc) {
    __time64_t t = utc ? _mkgmtime64(tm) : _mktime64(tm);
    if (t == (__time64_t)-1) return -1;
    return (int64_t)t;
}

// No zone is ever pushed here: the node's zone is the conversion zone.
const char *plat_node_tz(void) {
    return getenv("TZ");
}

const char *plat_zone_tz(void) {
    return getenv("TZ");
}

void plat_node_zone_abbrevs(const char **std_name, const char **dst_name) {
    _tzset();
    *std_name = _tzname[0] ? _tzname[0] : "";
    *dst_name = _tzname[1] ? _tzname[1] : "";
}

void plat_console_to_utf8(const char *in, char *out, size_t cap) {
    // A program without a console of its own has no console code page; the
    // command then writes in the system's OEM code page.
    UINT cp = GetConsoleOutputCP();
    if (cp == 0) cp = CP_OEMCP;
    static wchar_t wide[4096];
    int n = MultiByteToWideChar(cp, 0, in, -1, wide, (int)(sizeof wide / sizeof wide[0]));
    if (n <= 0) {
        str_copy(out, cap, in);
        return;
    }
    // Converted into a buffer with room for every character, then cut like
    // any other copy.
    static char utf8[3 * 4096];
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, (int)sizeof utf8, nullptr, nullptr) <= 0) {
        str_copy(out, cap, in);
        return;
    }
    str_copy(out, cap, utf8);
}

// ---- The Task Scheduler ------------------------------------------------

// COM is loaded only when a task's last run is asked for, so that the
// program itself needs no DLL beyond kernel32.dll and msvcrt.dll.
struct com_api {
    HRESULT(WINAPI *co_initialize_ex)(LPVOID, DWORD);
    void(WINAPI *co_uninitialize)(void);
    HRESULT(WINAPI *co_create_instance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *);
    BSTR(WINAPI *sys_alloc_string)(const OLECHAR *);
    void(WINAPI *sys_free_string)(BSTR);
    INT(WINAPI *variant_time_to_system_time)(DOUBLE, LPSYSTEMTIME);
};

static int load_com(com_api *api) {
    HMODULE ole = LoadLibraryW(L"ole32.dll");
    HMODULE aut = LoadLibraryW(L"oleaut32.dll");
    if (!ole || !aut) return 0;
    api->co_initialize_ex =
        (decltype(api->co_initialize_ex))(void *)GetProcAddress(ole, "CoInitializeEx");
    api->co_uninitialize =
        (decltype(api->co_uninitialize))(void *)GetProcAddress(ole, "CoUninitialize");
    api->co_create_instance =
        (decltype(api->co_create_instance))(void *)GetProcAddress(ole, "CoCreateInstance");
    api->sys_alloc_string =
        (decltype(api->sys_alloc_string))(void *)GetProcAddress(aut, "SysAllocString");
    api->sys_free_string =
        (decltype(api->sys_free_string))(void *)GetProcAddress(aut, "SysFreeString");
    api->variant_time_to_system_time =
        (decltype(api->variant_time_to_system_time))(void *)GetProcAddress(
            aut, "VariantTimeToSystemTime");
    return api->co_initialize_ex && api->co_uninitialize && api->co_create_instance &&
           api->sys_alloc_string && api->sys_free_string && api->variant_time_to_system_time;
}

// LastRunTime is a local DATE (days since 1899-12-30); this turns it into
// seconds since 1970 UTC by the zone rules of that day.
static int date_to_unix(const com_api *api, DATE date, int64_t *out) {
    SYSTEMTIME local, utc;
    if (date <= 1.0 || !api->variant_time_to_system_time(date, &local) ||
        !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc))
        return 0;
    FILETIME ft;
    if (!SystemTimeToFileTime(&utc, &ft)) return 0;
    ULARGE_INTEGER u;
    u.LowPart = ft.dwLowDateTime;
    u.HighPart = ft.dwHighDateTime;
    *out = (int64_t)(u.QuadPart / 10000000ULL) - 11644473600LL;
    return 1;
}

int plat_task_last_run(const char *task_path, int64_t *when, uint32_t *result) {
    *when = 0;
    *result = 0;
    wchar_t path[512];
    com_api api;
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, task_path, -1, path, 512) ||
        !load_com(&api))
        return 0;
    HRESULT init = api.co_initialize_ex(nullptr, COINIT_MULTITHREADED);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) return 0;
    int ok = 0;
    ITaskService *service = nullptr;
    ITaskFolder *root = nullptr;
    IRegisteredTask *task = nullptr;
    BSTR root_name = api.sys_alloc_string(L"\\");
    BSTR task_name = api.sys_alloc_string(path);
    VARIANT none; // VT_EMPTY: the local machine, the current user
    memset(&none, 0, sizeof none);
    if (root_name && task_name &&
        SUCCEEDED(api.co_create_instance(__uuidof(TaskScheduler), nullptr, CLSCTX_INPROC_SERVER,
                                         __uuidof(ITaskService), (void **)&service)) &&
        SUCCEEDED(service->Connect(none, none, none, none)) &&
        SUCCEEDED(service->GetFolder(root_name, &root)) &&
        SUCCEEDED(root->GetTask(task_name, &task))) {
        DATE date = 0;
        LONG code = 0;
        if (SUCCEEDED(task->get_LastRunTime(&date)) && SUCCEEDED(task->get_LastTaskResult(&code)) &&
            date_to_unix(&api, date, when)) {
            *result = (uint32_t)code;
            ok = 1;
        }
    }
    if (task) task->Release();
    if (root) root->Release();
    if (service) service->Release();
    if (task_name) api.sys_free_string(task_name);
    if (root_name) api.sys_free_string(root_name);
    if (SUCCEEDED(init)) api.co_uninitialize();
    return ok;
}

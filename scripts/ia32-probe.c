/* Tells whether this machine executes 32-bit x86 user code natively.
     ia32-probe            exit 0: it does; exit 1: it does not (the reason on stdout)
     ia32-probe --elf FILE writes a minimal 32-bit Linux program that exits with 42
   The answer comes from a 64-bit child that far-returns into the 32-bit user code segment
   and ends there with a 32-bit system call. Nothing is executed through binfmt_misc, so
   what the machine has registered for i386 programs does not change the answer. */
#define _GNU_SOURCE
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

enum { exit_code_32 = 42 };

/* mov eax, 252 (exit_group); mov ebx, 42; int 0x80 */
static const unsigned char exit_group_32[] = {0xB8, 0xFC, 0x00, 0x00, 0x00, 0xBB, exit_code_32,
                                              0x00, 0x00, 0x00, 0xCD, 0x80};

static void run_32bit_code(void)
{
    unsigned char *page = mmap(NULL, 4096, PROT_READ | PROT_WRITE | PROT_EXEC,
                               MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED)
        _exit(3);
    memcpy(page, exit_group_32, sizeof exit_group_32);
    /* Far return to selector 0x23 (32-bit user code); the code never comes back. */
    __asm__ volatile("pushq $0x23\n\t"
                     "pushq %0\n\t"
                     "lretq" ::"r"((uint64_t)(uintptr_t)page)
                     : "memory");
    _exit(4);
}

static int write_elf(const char *file)
{
    /* One PT_LOAD segment at 0x08048000 holding the headers and the code. */
    unsigned char image[52 + 32 + sizeof exit_group_32] = {0};
    const uint32_t base = 0x08048000, entry = base + 52 + 32, size = sizeof image;
    unsigned char *h = image, *p = image + 52;
    memcpy(h, "\x7f" "ELF\x01\x01\x01", 7);                    /* 32-bit, little-endian, v1 */
    h[16] = 2; h[18] = 3; h[20] = 1;                            /* ET_EXEC, EM_386, EV_CURRENT */
    memcpy(h + 24, &entry, 4);
    h[28] = 52;                                                 /* e_phoff */
    h[40] = 52; h[42] = 32; h[44] = 1;                          /* e_ehsize, e_phentsize, e_phnum */
    p[0] = 1;                                                   /* PT_LOAD */
    memcpy(p + 8, &base, 4); memcpy(p + 12, &base, 4);          /* p_vaddr, p_paddr */
    memcpy(p + 16, &size, 4); memcpy(p + 20, &size, 4);         /* p_filesz, p_memsz */
    p[24] = 5;                                                  /* PF_R | PF_X */
    p[29] = 0x10;                                               /* p_align 0x1000 */
    memcpy(image + 84, exit_group_32, sizeof exit_group_32);
    FILE *out = fopen(file, "wb");
    if (!out || fwrite(image, 1, sizeof image, out) != sizeof image || fclose(out) != 0) {
        perror(file);
        return 2;
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "--elf") == 0)
        return write_elf(argv[2]);
    if (argc != 1) {
        fputs("usage: ia32-probe [--elf FILE]\n", stderr);
        return 2;
    }
    fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) {
        perror("fork");
        return 2;
    }
    if (pid == 0) {
        alarm(5);
        run_32bit_code();
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        ;
    if (WIFEXITED(status) && WEXITSTATUS(status) == exit_code_32) {
        puts("this machine runs 32-bit x86 code");
        return 0;
    }
    if (WIFSIGNALED(status))
        printf("this machine cannot run 32-bit x86 code (signal %d in the 32-bit code segment)\n",
               WTERMSIG(status));
    else
        printf("this machine cannot run 32-bit x86 code (probe ended with %d)\n", WEXITSTATUS(status));
    return 1;
}

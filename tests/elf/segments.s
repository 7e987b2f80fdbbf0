# Code and data spread over several loadable segments, with a marker at each place that the
# tests look for: every marker is a word (or byte run) that occurs nowhere else in the file.
        .set    noreorder
        .set    noat

        .text
        .globl  _start
_start:
        jal     boot_marker
        nop
        .globl  boot_marker
boot_marker:
        lui     $t7, 0x1234             # 3C0F1234
        jr      $ra
        nop

        .section .text.hot, "ax"
        .globl  hot_marker
hot_entry:
        nop
        nop
hot_marker:
        lui     $t6, 0x5678             # 3C0E5678
        jr      $ra
        .globl  hot_twice
hot_twice:
        lui     $t6, 0x5678             # the same word again: two matches
        nop

        .section .rodata
        .globl  text_marker
        .byte   0x11
text_marker:
        .ascii  "QRNL"
        .byte   0x22, 0x33, 0x44

        .data
        .globl  data_marker
        .word   0
data_marker:
        .word   0xCAFEF00D
        .half   0
        .globl  odd_marker
odd_marker:
        .byte   0xDE, 0xAD, 0xBE, 0xEF
        .half   0

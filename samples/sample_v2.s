# The sample game's second release, for trying `quarnel-cli port`: a new function before the
# player code, a score kept before the player record, and the data linked at another address.
# Assembled and linked like sample.s; see CMakeLists.txt.
        .set    noreorder
        .set    noat

        .text
        .globl  _start
_start:
        jal     reset_score
        nop
        jal     init_player
        nop
main_loop:
        jal     take_hit
        nop
        bnez    $v0, main_loop
        nop
game_over:
        b       game_over
        nop

        .globl  reset_score
reset_score:
        lui     $t0, %hi(score)
        jr      $ra
        sw      $zero, %lo(score)($t0)

        .globl  init_player
init_player:
        lui     $t0, %hi(player)
        addiu   $t1, $zero, 3           # lives at the start
        sw      $t1, %lo(player)($t0)
        addiu   $t1, $zero, 100         # health
        jr      $ra
        sw      $t1, %lo(player + 4)($t0)

        .globl  take_hit
take_hit:
        lui     $t0, %hi(player)
        lw      $v0, %lo(player)($t0)
        nop
        addiu   $v0, $v0, -1            # one life less
        jr      $ra
        sw      $v0, %lo(player)($t0)

        .section .rodata
        .globl  title
title:
        .asciz  "QUARNEL SAMPLE 2"

        .data
        .globl  score
score:
        .word   0
        .globl  player
player:
        .word   0                       # lives
        .word   0                       # health

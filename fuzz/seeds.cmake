# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the inputs of a fuzz test's corpus folder, in the order of their names, as the
# comma-separated list that libFuzzer's -seed_inputs=@LIST reads: so that the order the file
# system lists them in, which differs between checkouts, does not change the run.
#   cmake -DCORPUS=<folder> -DLIST=<file> -P seeds.cmake
file(GLOB inputs LIST_DIRECTORIES false "${CORPUS}/*")
list(JOIN inputs "," seeds)
file(WRITE "${LIST}" "${seeds}")

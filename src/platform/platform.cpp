// Operating-system calls live in the files of this folder, one purpose a file.

! Reads a concentration layer file the way a Fortran post-processor does:
! sequential unformatted records, one plain READ per record, and prints every
! header field and every value as text for the tests to compare.
!
! Output, per layer:
!   HEADER k1 k2 k3 time "text" ncol nrow layer
!   one line per value (ncol*nrow lines, row after row)
! and at the end "END" and the number of layers read.
! Exit status 0 only when the whole file was read without an error.
program read_ucn
  implicit none
  character(len=4096) :: path
  character(len=16) :: text
  integer :: u, ios, k1, k2, k3, ncol, nrow, layer, nlayers
  real :: t
  real, allocatable :: values(:)

  if (command_argument_count() /= 1) then
    write (0, '(A)') 'usage: read_ucn FILE'
    error stop 2
  end if
  call get_command_argument(1, path)
  open (newunit=u, file=trim(path), form='unformatted', access='sequential', &
        status='old', action='read', iostat=ios)
  if (ios /= 0) error stop 'cannot open the file'

  nlayers = 0
  do
    read (u, iostat=ios) k1, k2, k3, t, text, ncol, nrow, layer
    if (ios < 0) exit
    if (ios > 0) error stop 'cannot read a header record'
    if (ncol < 1 .or. nrow < 1) error stop 'header without a layer size'
    allocate (values(ncol*nrow))
    read (u, iostat=ios) values
    if (ios /= 0) error stop 'cannot read a data record'
    write (*, '(A,3(1X,I0),1X,ES16.8E3,1X,3A,3(1X,I0))') &
      'HEADER', k1, k2, k3, t, '"', text, '"', ncol, nrow, layer
    write (*, '(ES16.8E3)') values
    deallocate (values)
    nlayers = nlayers + 1
  end do
  close (u)
  write (*, '(A,1X,I0)') 'END', nlayers
end program read_ucn

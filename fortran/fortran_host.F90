! A host written in Fortran. It defines the data items and routines the
! plug-in imports (urea_host_data, urea_host_routines), loads the library
! given as its first argument with dlopen and calls CMPLOC, USURA and UPROPU
! by reference with every argument position filled, as a Fortran simulator
! does. It checks the results against the rate law and the NC-FLOW
! definition, and that nothing the routines do not own has changed.
!
! Built a second time with UREA_FPE_TRAPS defined and -ffpe-trap=invalid,
! zero,overflow: the library then runs inside a host that traps, is fed a
! zero liquid volume and a zero pressure, and must neither signal the host
! nor change its halting modes or its exception flags.
program fortran_host
  use, intrinsic :: iso_c_binding, only: c_int64_t, c_double, c_loc, c_associated
  use, intrinsic :: ieee_arithmetic, only: ieee_is_nan, ieee_set_underflow_mode, &
      ieee_support_underflow_control, ieee_set_rounding_mode, ieee_up, ieee_nearest
  use, intrinsic :: ieee_exceptions
  use urea_host_data
  use urea_plugin, only: load_plugin
  use urea_host_calls
  implicit none

#ifdef UREA_FPE_TRAPS
  logical, parameter :: trapping = .true.
#else
  logical, parameter :: trapping = .false.
#endif

  ! The component list, in an order unlike the locator's table, at offsets
  ! other than 0 in the pool.
  integer, parameter :: nc = 9
  integer, parameter :: l_ids = 40, l_mw = 300
  integer, parameter :: i_ar = 1, i_n2 = 2, i_urea = 3, i_co2 = 4, i_h2o = 5, i_carb = 6, &
      i_nh3 = 7, i_o2 = 8, i_ch4 = 9
  character(len=8), parameter :: names(nc) = [character(len=8) :: &
      'AR', 'N2', 'UREA', 'CO2', 'H2O', 'CARB', 'NH3', 'O2', 'CH4']
  real(c_double), parameter :: mw(nc) = [39.948_c_double, 28.014_c_double, 60.056_c_double, &
      44.010_c_double, 18.015_c_double, 78.071_c_double, 17.031_c_double, 31.999_c_double, &
      16.043_c_double]
  ! The five species with a rate, as (NH3, CO2, CARB, UREA, H2O).
  integer, parameter :: rated(5) = [i_nh3, i_co2, i_carb, i_urea, i_h2o]

  ! Bit patterns no arithmetic produces here: a written rate or result shows.
  real(c_double), parameter :: untouched = -777.25_c_double
  real(c_double), parameter :: plus_inf = transfer(int(z'7FF0000000000000', c_int64_t), 1.0_c_double)
  real(c_double), parameter :: signalling_nan = transfer(int(z'7FF0000000000001', c_int64_t), 1.0_c_double)

  type(ieee_flag_type), parameter :: trapped(3) = [ieee_invalid, ieee_divide_by_zero, ieee_overflow]

  integer :: failures = 0
  character(len=4096) :: path
  logical :: halting(3)

  if (command_argument_count() /= 1) then
    write (*, '(a)') 'usage: fortran_host PATH-OF-liburea_plugin.so'
    error stop 2
  end if
  call get_command_argument(1, path)

  call ieee_get_halting_mode(trapped, halting)
  if (any(halting .neqv. trapping)) then
    write (*, '(a, 3l2)') 'halting modes (invalid, zero, overflow) not as built:', halting
    error stop 2
  end if

  call load_plugin(path)
  call set_components(names, l_ids)
  call set_molecular_weights(mw, l_mw)
  call fill_spare()

  call locator_finds_by_position()
  call worked_example()
  call nc_flow_folds_carbamate()
  call zero_volume_and_pressure()
  call overflowing_flows()
  ! The host carries on after the non-finite cases as before them.
  call worked_example()
  call check(fp_state_changes == 0, 'MXCSR and the x87 words the same after every call')

  if (failures > 0) then
    write (*, '(i0, a)') failures, ' check(s) failed'
    error stop 1
  end if
  write (*, '(a)') 'all checks passed'

contains

  subroutine check(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      failures = failures + 1
      write (*, '(a, a)') 'FAILED: ', what
    end if
  end subroutine check

  ! actual = expected within a relative 1e-12 (finite values only).
  subroutine check_near(actual, expected, what)
    real(c_double), intent(in) :: actual, expected
    character(len=*), intent(in) :: what
    logical :: ok
    ok = abs(actual - expected) <= 1.0e-12_c_double * abs(expected) + 1.0e-300_c_double
    if (.not. ok) write (*, '(a, 2es25.16)') what // ': got, want', actual, expected
    call check(ok, what)
  end subroutine check_near

  ! actual rounds to quoted at three significant figures.
  subroutine check_three_figures(actual, quoted, what)
    real(c_double), intent(in) :: actual, quoted
    character(len=*), intent(in) :: what
    real(c_double) :: half_unit
    logical :: ok
    half_unit = 0.5_c_double * 10.0_c_double**(floor(log10(abs(quoted))) - 2)
    ok = abs(actual - quoted) <= half_unit * (1.0_c_double + 1.0e-9_c_double)
    if (.not. ok) write (*, '(a, 2es25.16)') what // ': got, quoted', actual, quoted
    call check(ok, what)
  end subroutine check_three_figures

  ! The rate law with the grouping of its definition. Arguments by species
  ! as (NH3, CO2, CARB, UREA, H2O); the result is the five rates.
  function rate_law(t, p, a1, a2, vl, v, x, g, phi) result(r)
    real(c_double), intent(in) :: t, p, a1, a2, vl, v, x(5), g(5), phi(5)
    real(c_double) :: r(5)
    integer, parameter :: nh3 = 1, co2 = 2, carb = 3, urea = 4, h2o = 5
    real(c_double) :: patm, rt, kf1, k2, big_k2, r2f, d2, r2b, big_k1, d1, r1, r2
    patm = p / 101325.0_c_double
    rt = 8314.0_c_double * t
    kf1 = 100000.0_c_double * a1
    k2 = ((exp(-((1.0e8_c_double / 8314.0_c_double) / t)) * 1.5e9_c_double) * a2) / vl
    big_k2 = exp(-(((g(urea) - g(carb)) + g(h2o)) / rt))
    r2f = (x(carb) * k2) * v
    d2 = (big_k2 / patm) / ((phi(urea) * phi(h2o)) / phi(carb))
    r2b = ((k2 / d2) * (x(urea) * x(h2o))) * v
    big_k1 = exp(-((((g(carb) - g(nh3)) - g(nh3)) - g(co2)) / rt))
    d1 = (big_k1 * (patm * patm)) / ((phi(carb) / (phi(nh3) * phi(nh3))) / phi(co2))
    r1 = ((((x(nh3) * x(nh3)) * x(co2)) * kf1) - ((kf1 / d1) * x(carb))) * v
    r2 = r2f - r2b
    r = [-2.0_c_double * r1, -r1, (r1 - r2f) + r2b, r2, r2]
  end function rate_law

  ! The reactor state of the worked example: 458 K, 1.5e7 Pa, a1 = 1,
  ! a2 = 1e3, vl = 0.03 m3/kmol, V = 50 m3, and the composition, Gibbs
  ! energies and fugacity coefficients below. O2 is present too; it takes
  ! part in nothing.
  subroutine set_reactor(vl, p)
    real(c_double), intent(in) :: vl, p
    integer :: i
    do i = 1, nc
      stream(i) = real(i, c_double)
      ! Other components get values of their own: one read at a wrong
      ! position shows in the rates.
      gibbs_of(i) = -1.0e9_c_double * i
      fugacity_of(i) = 1000.0_c_double + i
    end do
    stream(nc + 1) = sum(stream(1:nc))
    stream(nc + 2) = 458.0_c_double
    stream(nc + 3) = p
    do i = nc + 4, size(stream)
      stream(i) = -real(i, c_double)
    end do
    params = [1.0_c_double, 1.0e3_c_double]
    liquid_volume = vl
    reactor_state(6) = 50.0_c_double

    n_present = 6
    present_pos(1:6) = int([i_urea, i_o2, i_nh3, i_carb, i_h2o, i_co2], c_int64_t)
    x_present(1:6) = [0.2_c_double, 0.05_c_double, 0.3_c_double, 0.15_c_double, &
        0.2_c_double, 0.1_c_double]
    gibbs_of(rated) = [-6.0e7_c_double, -4.3e8_c_double, -5.6e8_c_double, -2.0e8_c_double, &
        -3.0e8_c_double]
    fugacity_of(rated) = [2.5_c_double, 10.0_c_double, 4.0e5_c_double, 0.01_c_double, &
        0.05_c_double]

    host_opts = [11_c_int64_t, 12_c_int64_t, 13_c_int64_t, 14_c_int64_t]
    fug_extra = [21.0_c_double, 22.0_c_double, 23.0_c_double, 24.0_c_double]
    rates = untouched
    ! Left from another stream: the host's property routines set it to the
    ! number of values they return, before each scatter reads it.
    stream_work(3) = 0
  end subroutine set_reactor

  subroutine locator_finds_by_position()
    real(c_double) :: vec(nc)
    integer(c_int64_t) :: name(2), index
    real(c_double) :: value
    integer :: i
    vec = [(10.0_c_double * i, i = 1, nc)]
    vec(i_co2) = signalling_nan

    ! A name pair as the host stores it, taken from its own pool.
    name = pool(l_ids + 2 * i_urea - 1 : l_ids + 2 * i_urea)
    call call_cmploc(name, vec, index, value)
    call check(index == i_urea .and. same_bits(value, vec(i_urea)), 'CMPLOC finds UREA')
    ! Its entry is copied bit for bit: a signalling NaN stays one, unsignalled.
    name = [name_word('CO2'), name_word('')]
    call call_cmploc(name, vec, index, value)
    call check(index == i_co2 .and. same_bits(value, signalling_nan), &
        'CMPLOC finds CO2 and copies its entry unchanged')
    name = [name_word('HE'), name_word('')]
    value = untouched
    call call_cmploc(name, vec, index, value)
    call check(index == nc .and. same_bits(value, 0.0_c_double), &
        'CMPLOC gives position nc and 0.0 for a name not in the list')
  end subroutine locator_finds_by_position

  subroutine worked_example()
    real(c_double) :: want(5), x(5)
    real(c_double) :: stream_before(size(stream)), x_before(size(x_present))
    integer(c_int64_t) :: pos_before(size(present_pos))
    integer :: calls_before, s

    call set_reactor(0.03_c_double, 1.5e7_c_double)
    stream_before = stream
    x_before = x_present
    pos_before = present_pos
    calls_before = property_calls
    call call_usura()

    x = [0.3_c_double, 0.1_c_double, 0.15_c_double, 0.2_c_double, 0.2_c_double]
    want = rate_law(458.0_c_double, 1.5e7_c_double, params(1), params(2), liquid_volume, &
        reactor_state(6), x, gibbs_of(rated), fugacity_of(rated))
    do s = 1, 5
      call check_near(rates(rated(s)), want(s), 'rate of ' // trim(names(rated(s))))
    end do
    call check_three_figures(rates(i_nh3), -5.83e4_c_double, 'NH3 rate, quoted figure')
    call check_three_figures(rates(i_co2), -2.92e4_c_double, 'CO2 rate, quoted figure')
    call check_three_figures(rates(i_carb), 2.82e4_c_double, 'CARB rate, quoted figure')
    call check_three_figures(rates(i_urea), 967.0_c_double, 'UREA rate, quoted figure')
    call check_three_figures(rates(i_h2o), 967.0_c_double, 'H2O rate, quoted figure')

    call check(all(same_bits(rates([i_ar, i_n2, i_o2, i_ch4]), untouched)), &
        'rates of AR, N2, O2, CH4 not written')
    call check(all(same_bits(stream, stream_before)), 'stream vector unchanged')
    call check(all(same_bits(x_present, x_before)) .and. all(present_pos == pos_before) &
        .and. n_present == 6, 'present list unchanged')
    call check(same_bits(params(1), 1.0_c_double) .and. same_bits(params(2), 1.0e3_c_double) &
        .and. all(host_opts == [11, 12, 13, 14]) &
        .and. all(same_bits(fug_extra, [21.0_c_double, 22.0_c_double, 23.0_c_double, &
        24.0_c_double])), 'parameters and opaque arrays unchanged')
    call check(spare_unchanged(), 'arrays at unused positions unchanged')

    ! The host's property routines were each called once, by reference, with
    ! the stream's state and the host's own opaque arrays.
    call check(property_calls - calls_before == 3, 'three property calls')
    call check(all(same_bits(seen_t, 458.0_c_double)) .and. all(same_bits(seen_p, 1.5e7_c_double)), &
        'property routines handed T and P of the stream')
    call check(c_associated(seen_opts(1), c_loc(host_opts)) .and. &
        c_associated(seen_opts(2), c_loc(host_opts)) .and. &
        c_associated(seen_fug_extra, c_loc(fug_extra)), &
        "opaque arrays passed on as the host's own")
  end subroutine worked_example

  subroutine nc_flow_folds_carbamate()
    character(len=8) :: prop_name(2)
    real(c_double) :: want(nc)
    integer :: i, k

    flows = untouched
    flows(1:nc) = [(0.25_c_double * i, i = 1, nc)]
    flows([i_nh3, i_co2, i_carb]) = [1.0_c_double, 2.0_c_double, 3.0_c_double]
    ! Every component, in an order of the host's, one of them twice; the
    ! entries past m must stay as they are.
    n_out = nc + 1
    out_pos(1:nc + 1) = int([i_carb, i_nh3, i_co2, i_ar, i_n2, i_urea, i_h2o, i_o2, i_ch4, &
        i_nh3], c_int64_t)
    out_values = untouched

    prop_name = ['NC-F    ', 'LOW     ']
    call call_upropu(prop_name)

    want = flows(1:nc) * mw
    want(i_nh3) = 7.0_c_double * mw(i_nh3)
    want(i_co2) = 5.0_c_double * mw(i_co2)
    want(i_carb) = 0.0_c_double
    do k = 1, nc + 1
      call check_near(out_values(k), want(out_pos(k)), &
          'NC-FLOW of ' // trim(names(out_pos(k))))
    end do
    call check(all(same_bits(out_values(nc + 2:), untouched)), 'NC-FLOW writes m results only')
    call check(same_bits(flows(i_carb), 3.0_c_double) .and. &
        all(same_bits(flows(nc + 1:), untouched)), 'NC-FLOW leaves the flows alone')
    call check(spare_unchanged(), 'NC-FLOW leaves the arrays at unused positions alone')

    ! The seven characters in the first word are another name: nothing written.
    out_values = untouched
    prop_name = ['NC-FLOW ', '        ']
    call call_upropu(prop_name)
    call check(all(same_bits(out_values, untouched)), 'another property name writes nothing')
  end subroutine nc_flow_folds_carbamate

  ! A zero liquid volume and a zero pressure make k2 and the reaction-1
  ! backward term infinite: NH3 and CO2 rates +inf, the others NaN (inf/inf
  ! in reaction 2's backward term). The host only looks at the bits.
  subroutine zero_volume_and_pressure()
    logical :: before(3), after(3), raised(3), kept

    call set_reactor(0.0_c_double, 0.0_c_double)
    call ieee_get_halting_mode(trapped, before)
    if (trapping) then
      ! An exception the host had raised before the call must still be
      ! raised after it; none of the library's may be added. The host also
      ! flushes underflows to zero and rounds upward: the call must keep
      ! both (each call compares MXCSR).
      call ieee_set_flag(ieee_all, .false.)
      call ieee_set_flag(ieee_underflow, .true.)
      if (ieee_support_underflow_control(1.0_c_double)) call ieee_set_underflow_mode(.false.)
      call ieee_set_rounding_mode(ieee_up)
    end if

    call call_usura()

    if (trapping) then
      call ieee_set_rounding_mode(ieee_nearest)
      if (ieee_support_underflow_control(1.0_c_double)) call ieee_set_underflow_mode(.true.)
    end if

    call ieee_get_halting_mode(trapped, after)
    if (trapping) then
      call ieee_get_flag(trapped, raised)
      call ieee_get_flag(ieee_underflow, kept)
      call ieee_set_flag(ieee_all, .false.)
      call check(.not. any(raised), 'no exception flag of the library left raised')
      call check(kept, "the host's raised flag kept")
    end if
    call check(all(before .eqv. after), 'halting modes unchanged by the rate routine')
    call check(same_bits(rates(i_nh3), plus_inf) .and. same_bits(rates(i_co2), plus_inf), &
        'zero volume and pressure: NH3 and CO2 rates +inf')
    call check(ieee_is_nan(rates(i_carb)) .and. ieee_is_nan(rates(i_urea)) .and. &
        ieee_is_nan(rates(i_h2o)), 'zero volume and pressure: CARB, UREA, H2O rates NaN')
    call check(all(same_bits(rates([i_ar, i_n2, i_o2, i_ch4]), untouched)), &
        'zero volume and pressure: other rates not written')
  end subroutine zero_volume_and_pressure

  ! Mass flows beyond the largest real overflow to +inf inside the library,
  ! not in the host.
  subroutine overflowing_flows()
    character(len=8) :: prop_name(2)
    logical :: before(3), after(3)

    flows(1:nc) = 1.0_c_double
    flows(i_carb) = huge(1.0_c_double)
    n_out = 3
    out_pos(1:3) = int([i_nh3, i_co2, i_carb], c_int64_t)
    out_values = untouched
    prop_name = ['NC-F    ', 'LOW     ']
    call ieee_get_halting_mode(trapped, before)
    call call_upropu(prop_name)
    call ieee_get_halting_mode(trapped, after)
    call check(all(before .eqv. after), 'halting modes unchanged by the property routine')
    call check(same_bits(out_values(1), plus_inf) .and. same_bits(out_values(2), plus_inf) &
        .and. same_bits(out_values(3), 0.0_c_double), 'overflowing flows give +inf')
  end subroutine overflowing_flows

end program fortran_host
